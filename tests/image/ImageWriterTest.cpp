// The image writers of the tools: known pixels through each writer and read back, camera frames
// made writable, and the failures a caller must see.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "ImageReaders.h"
#include "image/ImageWriter.h"
#include "tests/platform/Scratch.h"

using namespace pximage;

namespace {

class ImageWriterTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return m_scratch.In(name); }
    platformtest::CScratch m_scratch;
};

// A 3x2 colour image in the camera's blue-green-red order, rows padded to 12 bytes.
const uint8_t kBgrPadded[24] = {
    0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xEE, 0xEE, 0xEE,
    0x01, 0x02, 0x03, 0xFF, 0x00, 0x7F, 0xA0, 0xB0, 0xC0, 0xEE, 0xEE, 0xEE,
};
const uint8_t kExpectedRgb[18] = {0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70,
                                  0x03, 0x02, 0x01, 0x7F, 0x00, 0xFF, 0xC0, 0xB0, 0xA0};

} // namespace

TEST_F(ImageWriterTest, PngKeepsKnownPixelsOfEveryLayout)
{
    // Grey with a padded stride: the padding must not reach the file.
    const uint8_t grey[2 * 5] = {0, 1, 128, 255, 0xAA, 7, 8, 9, 10, 0xAA};
    std::string path = Path("grey.png");
    ASSERT_TRUE(WritePng(path.c_str(), grey, 5, 4, 2, PixelLayout::Grey8).Ok());
    DecodedImage png;
    ASSERT_TRUE(ReadPngFile(path, true, &png));
    EXPECT_EQ(png.width, 4u);
    EXPECT_EQ(png.height, 2u);
    EXPECT_EQ(png.pixels, (std::vector<uint8_t>{0, 1, 128, 255, 7, 8, 9, 10}));

    path = Path("bgr.png");
    ASSERT_TRUE(WritePng(path.c_str(), kBgrPadded, 12, 3, 2, PixelLayout::Bgr24).Ok());
    ASSERT_TRUE(ReadPngFile(path, false, &png));
    EXPECT_EQ(png.pixels, std::vector<uint8_t>(kExpectedRgb, kExpectedRgb + 18));

    // The same colours with a fourth byte that must be dropped.
    uint8_t bgrx[2 * 3 * 4];
    for (int i = 0; i < 6; ++i) {
        std::memcpy(bgrx + i * 4, kBgrPadded + (i / 3) * 12 + (i % 3) * 3, 3);
        bgrx[i * 4 + 3] = 0x5A;
    }
    path = Path("bgrx.png");
    ASSERT_TRUE(WritePng(path.c_str(), bgrx, 12, 3, 2, PixelLayout::Bgrx32).Ok());
    ASSERT_TRUE(ReadPngFile(path, false, &png));
    EXPECT_EQ(png.pixels, std::vector<uint8_t>(kExpectedRgb, kExpectedRgb + 18));
    path = Path("bgrx.ppm");
    ASSERT_TRUE(WritePnm(path.c_str(), bgrx, 12, 3, 2, PixelLayout::Bgrx32).Ok());
    EXPECT_EQ(ReadBytes(path).size(), 11u + 18u);
}

TEST_F(ImageWriterTest, PnmAndRawWriteTheRowsWithoutPadding)
{
    const uint8_t grey[2 * 4] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    std::string path = Path("grey.pgm");
    ASSERT_TRUE(WritePnm(path.c_str(), grey, 4, 3, 2, PixelLayout::Grey8).Ok());
    const std::string pgmHead = "P5\n3 2\n255\n";
    std::vector<uint8_t> expected(pgmHead.begin(), pgmHead.end());
    expected.insert(expected.end(), {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ReadBytes(path), expected);

    path = Path("colour.ppm");
    ASSERT_TRUE(WritePnm(path.c_str(), kBgrPadded, 12, 3, 2, PixelLayout::Bgr24).Ok());
    const std::string ppmHead = "P6\n3 2\n255\n";
    expected.assign(ppmHead.begin(), ppmHead.end());
    expected.insert(expected.end(), kExpectedRgb, kExpectedRgb + 18);
    EXPECT_EQ(ReadBytes(path), expected);

    // Raw keeps the source's byte order.
    path = Path("colour.raw");
    ASSERT_TRUE(WriteRaw(path.c_str(), kBgrPadded, 12, 3, 2, PixelLayout::Bgr24).Ok());
    expected.assign(kBgrPadded, kBgrPadded + 9);
    expected.insert(expected.end(), kBgrPadded + 12, kBgrPadded + 21);
    EXPECT_EQ(ReadBytes(path), expected);

    EXPECT_STREQ(ImageFileExtension(ImageFileFormat::Pnm, PixelLayout::Grey8), "pgm");
    EXPECT_STREQ(ImageFileExtension(ImageFileFormat::Pnm, PixelLayout::Bgrx32), "ppm");
}

TEST_F(ImageWriterTest, CameraFormatsBecomeWritableViews)
{
    std::vector<uint8_t> scratch;
    ImageView v;
    const uint8_t frame[24] = {};
    // Formats the writers take are views of the source itself.
    struct {
        uint32_t format;
        PixelLayout layout;
        uint32_t bpp;
    } direct[] = {{PX_FORMAT_MONO8, PixelLayout::Grey8, 1}, {PX_FORMAT_SYSCOLOR8, PixelLayout::Grey8, 1},
                  {PX_FORMAT_RGB24, PixelLayout::Bgr24, 3}, {PX_FORMAT_RGB32, PixelLayout::Bgrx32, 4}};
    for (const auto& d : direct) {
        ASSERT_TRUE(CameraImageView(d.format, frame, sizeof frame, 3 * d.bpp, 3, 2, &scratch, &v).Ok()) << d.format;
        EXPECT_EQ(v.pData, frame);
        EXPECT_EQ(v.layout, d.layout);
    }
    // YUV16 and RGB16 are converted into scratch as blue, green, red, row by row with the stride.
    const uint8_t yuv[2 * 6] = {50, 128, 60, 0, 0xEE, 0xEE, 70, 128, 80, 128, 0xEE, 0xEE};
    ASSERT_TRUE(CameraImageView(PX_FORMAT_YUV16, yuv, sizeof yuv, 6, 2, 2, &scratch, &v).Ok());
    EXPECT_EQ(v.layout, PixelLayout::Bgr24);
    EXPECT_EQ(v.stride, 6u);
    // V = 0 takes 179 from red and adds 91 to green.
    EXPECT_EQ(std::vector<uint8_t>(v.pData, v.pData + 12),
              (std::vector<uint8_t>{50, 141, 0, 60, 151, 0, 70, 70, 70, 80, 80, 80}));
    // Little-endian words: pure red, then (1, 1, 1) and (31, 0, 16) widened by their top bits.
    const uint8_t rgb16[6] = {0x00, 0x7C, 0x21, 0x04, 0x10, 0x7C};
    ASSERT_TRUE(CameraImageView(PX_FORMAT_RGB16, rgb16, sizeof rgb16, 6, 3, 1, &scratch, &v).Ok());
    EXPECT_EQ(std::vector<uint8_t>(v.pData, v.pData + 9), (std::vector<uint8_t>{0, 0, 255, 8, 8, 8, 132, 0, 255}));

    // What a broken info record would ask for.
    EXPECT_EQ(CameraImageView(3, frame, sizeof frame, 3, 3, 2, &scratch, &v).error, ImageError::UnknownFormat);
    EXPECT_EQ(CameraImageView(PX_FORMAT_RGB32, frame, sizeof frame, 12, 3, 3, &scratch, &v).error,
              ImageError::ShortSource);
    EXPECT_EQ(CameraImageView(PX_FORMAT_RGB24, frame, sizeof frame, 8, 3, 2, &scratch, &v).error,
              ImageError::BadArgument);  // stride shorter than a row
    EXPECT_EQ(CameraImageView(PX_FORMAT_MONO8, frame, sizeof frame, 0x40000000, 1, 0x40000000, &scratch, &v).error,
              ImageError::ShortSource);
    EXPECT_EQ(CameraImageView(PX_FORMAT_MONO8, frame, sizeof frame, SIZE_MAX / 2, 1, 4, &scratch, &v).error,
              ImageError::BadArgument);  // the extent overflows
}

TEST_F(ImageWriterTest, UnwritablePathsGiveErrors)
{
    // A regular file used as a folder fails for every user, root included.
    const std::string file = Path("plain-file");
    ASSERT_TRUE(WriteBytes(file.c_str(), reinterpret_cast<const uint8_t*>("x"), 1).Ok());
    const std::string inside = file + "/frame.png";
    const uint8_t grey[4] = {1, 2, 3, 4};
    ImageStatus s = WritePng(inside.c_str(), grey, 2, 2, 2, PixelLayout::Grey8);
    EXPECT_EQ(s.error, ImageError::OpenFailed);
    EXPECT_EQ(s.detail, ENOTDIR);
    EXPECT_EQ(WritePnm(inside.c_str(), grey, 2, 2, 2, PixelLayout::Grey8).error, ImageError::OpenFailed);
    EXPECT_EQ(WriteRaw(inside.c_str(), grey, 2, 2, 2, PixelLayout::Grey8).error, ImageError::OpenFailed);
    EXPECT_EQ(WriteBytes("", grey, 4).error, ImageError::BadArgument);
    // A device that takes nothing fails the write and is left where it is.
    s = WriteRaw("/dev/full", grey, 2, 2, 2, PixelLayout::Grey8);
    EXPECT_EQ(s.error, ImageError::WriteFailed);
    EXPECT_EQ(s.detail, ENOSPC);
    EXPECT_EQ(WritePng("/dev/full", grey, 2, 2, 2, PixelLayout::Grey8).error, ImageError::WriteFailed);
    EXPECT_EQ(access("/dev/full", F_OK), 0);
    EXPECT_EQ(WritePng(Path("empty.png").c_str(), grey, 2, 0, 2, PixelLayout::Grey8).error, ImageError::BadArgument);
}
