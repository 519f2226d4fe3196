// Files of the converted image: the bitmap file byte for byte, the raw bytes, and PNG, TIFF and
// JPEG read back with the libraries' own decoders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "ImageReaders.h"
#include "image/BitmapFiles.h"
#include "image/Conversion.h"
#include "tests/platform/Scratch.h"

using namespace pximage;

namespace {

class BitmapFilesTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return m_scratch.In(name); }
    platformtest::CScratch m_scratch;
};

// A converted image as the control keeps it: header block and rows at the display pitch.
struct Converted {
    std::vector<uint8_t> header, pixels;
    uint32_t pitch = 0;
};

Converted Convert(const std::vector<uint8_t>& source, uint32_t sourceFormat, uint32_t copyFormat, uint32_t w, uint32_t h)
{
    Converted c;
    uint32_t size = 0;
    EXPECT_TRUE(CopyLayout(copyFormat, w, h, &c.pitch, &size));
    c.header.resize(DibHeaderBytes(copyFormat));
    FillDibHeader(c.header.data(), copyFormat, sourceFormat, w, h, size);
    c.pixels.assign(size, 0);
    EXPECT_TRUE(CopyConvert(source.data(), sourceFormat, w, h, c.pixels.data(), copyFormat, c.pitch).Empty());
    return c;
}

void Put32(std::vector<uint8_t>* v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

} // namespace

TEST_F(BitmapFilesTest, BitmapFileByteForByte)
{
    // A 24-bit image 5 pixels wide keeps its 16-byte rows; the file holds them bottom-up behind a
    // header whose height is positive.
    std::vector<uint8_t> bgr(5 * 2 * 3);
    for (size_t i = 0; i < bgr.size(); ++i)
        bgr[i] = static_cast<uint8_t>(i + 1);
    Converted c = Convert(bgr, PX_FORMAT_RGB24, PX_FORMAT_RGB24, 5, 2);
    std::string path = Path("rgb24.bmp");
    ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Bitmap, path.c_str(), c.header.data(), c.pixels.data()).Ok());
    std::vector<uint8_t> expected = {'B', 'M'};
    Put32(&expected, 14 + 40 + 32);
    Put32(&expected, 0);
    Put32(&expected, 14 + 40);
    expected.insert(expected.end(), c.header.begin(), c.header.begin() + 40);
    expected[14 + 8] = 2; // height 2 instead of -2
    expected[14 + 9] = expected[14 + 10] = expected[14 + 11] = 0;
    expected.insert(expected.end(), c.pixels.begin() + 16, c.pixels.end());
    expected.insert(expected.end(), c.pixels.begin(), c.pixels.begin() + 16);
    EXPECT_EQ(ReadBytes(path), expected);

    // An 8-bit image: 256 colours at offset 54, pixels at 1078. A header whose rows are not a
    // multiple of 4 bytes (3 here) is written with rows padded by zeros and its size adjusted.
    Converted g = Convert({10, 20, 30, 40, 50, 60}, PX_FORMAT_SYSCOLOR8, PX_FORMAT_SYSCOLOR8, 3, 2);
    BitmapInfoHeader h;
    std::memcpy(&h, g.header.data(), sizeof h);
    h.biSizeImage = 6;
    std::memcpy(g.header.data(), &h, sizeof h);
    const std::vector<uint8_t> tight = {10, 20, 30, 40, 50, 60};
    path = Path("index8.bmp");
    ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Bitmap, path.c_str(), g.header.data(), tight.data()).Ok());
    const std::vector<uint8_t> file = ReadBytes(path);
    ASSERT_EQ(file.size(), 1078u + 8u);
    EXPECT_EQ(file[10] | file[11] << 8, 1078);
    EXPECT_EQ(file[2] | file[3] << 8, 1086);
    EXPECT_EQ(file[14 + 20], 8); // image size of the padded rows
    EXPECT_TRUE(std::equal(g.header.begin() + 40, g.header.end(), file.begin() + 54));
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 1078, file.end()), (std::vector<uint8_t>{40, 50, 60, 0, 10, 20, 30, 0}));

    // Raw: the image size's bytes as they are.
    path = Path("rgb24.raw");
    ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Raw, path.c_str(), c.header.data(), c.pixels.data()).Ok());
    EXPECT_EQ(ReadBytes(path), c.pixels);
}

TEST_F(BitmapFilesTest, PicturesReadBackThroughTheirDecoders)
{
    // A colour gradient with some detail, converted into every display format.
    const uint32_t w = 37, h = 23;
    std::vector<uint8_t> bgr(size_t{w} * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &bgr[(size_t{y} * w + x) * 3];
            p[0] = static_cast<uint8_t>(x * 6), p[1] = static_cast<uint8_t>(y * 10), p[2] = static_cast<uint8_t>(x * 3 + y * 5);
        }
    // A grey ramp whose dark corner runs through system colours 4 and 8 of the index format.
    std::vector<uint8_t> grey(size_t{w} * h);
    for (uint32_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>((i % w + i / w) * 4);

    struct {
        uint32_t source, copy;
    } cases[] = {{PX_FORMAT_RGB24, PX_FORMAT_RGB32}, {PX_FORMAT_RGB24, PX_FORMAT_RGB24}, {PX_FORMAT_RGB24, PX_FORMAT_RGB16},
                 {PX_FORMAT_MONO8, PX_FORMAT_MONO8}, {PX_FORMAT_SYSCOLOR8, PX_FORMAT_SYSCOLOR8}};
    for (const auto& k : cases) {
        SCOPED_TRACE("display format " + std::to_string(k.copy) + " from " + std::to_string(k.source));
        const std::vector<uint8_t>& src = k.source == PX_FORMAT_RGB24 ? bgr : grey;
        Converted c = Convert(src, k.source, k.copy, w, h);
        const bool greyFile = k.source == PX_FORMAT_MONO8;
        // What every pixel should show, from the converted bitmap through its own rules.
        std::vector<uint8_t> want;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = &c.pixels[size_t{y} * c.pitch];
                uint8_t r, g, b;
                if (k.copy == PX_FORMAT_RGB32 || k.copy == PX_FORMAT_RGB24) {
                    const uint32_t bpp = k.copy == PX_FORMAT_RGB32 ? 4 : 3;
                    b = p[x * bpp], g = p[x * bpp + 1], r = p[x * bpp + 2];
                } else if (k.copy == PX_FORMAT_RGB16) {
                    const int v = p[x * 2] | p[x * 2 + 1] << 8;
                    auto widen = [](int f) { return static_cast<uint8_t>((f << 3) | (f >> 2)); };
                    r = widen((v >> 10) & 31), g = widen((v >> 5) & 31), b = widen(v & 31);
                } else {
                    const uint8_t* e = &c.header[40 + 4 * p[x]];
                    b = e[0], g = e[1], r = e[2];
                }
                if (greyFile)
                    want.push_back(g);
                else
                    want.insert(want.end(), {r, g, b});
            }

        DecodedImage png, tiff, jpeg;
        const std::string pngPath = Path("p.png"), tiffPath = Path("p.tiff"), jpegPath = Path("p.jpg");
        ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Png, pngPath.c_str(), c.header.data(), c.pixels.data()).Ok());
        ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Tiff, tiffPath.c_str(), c.header.data(), c.pixels.data()).Ok());
        ASSERT_TRUE(WriteBitmapFile(BitmapFileType::Jpeg, jpegPath.c_str(), c.header.data(), c.pixels.data()).Ok());
        ASSERT_TRUE(ReadPngFile(pngPath, greyFile, &png));
        ASSERT_TRUE(ReadTiffFile(tiffPath, &tiff));
        ASSERT_TRUE(ReadJpegFile(jpegPath, &jpeg));
        for (const DecodedImage* d : {&png, &tiff, &jpeg}) {
            EXPECT_EQ(d->width, w);
            EXPECT_EQ(d->height, h);
            EXPECT_EQ(d->channels, greyFile ? 1u : 3u);
        }
        EXPECT_EQ(png.pixels, want);
        EXPECT_EQ(tiff.pixels, want);
        // JPEG is lossy: a small mean error over the picture.
        ASSERT_EQ(jpeg.pixels.size(), want.size());
        double error = 0;
        for (size_t i = 0; i < want.size(); ++i)
            error += std::abs(int{jpeg.pixels[i]} - int{want[i]});
        EXPECT_LT(error / static_cast<double>(want.size()), 4.0);
    }
}

TEST_F(BitmapFilesTest, HeadersItCannotHaveMadeAndUnwritablePaths)
{
    Converted c = Convert({1, 2, 3, 4}, PX_FORMAT_MONO8, PX_FORMAT_MONO8, 2, 2);
    BitmapInfoHeader h;
    std::memcpy(&h, c.header.data(), sizeof h);
    auto withHeader = [&](auto change) {
        BitmapInfoHeader copy = h;
        change(copy);
        std::vector<uint8_t> block = c.header;
        std::memcpy(block.data(), &copy, sizeof copy);
        return WriteBitmapFile(BitmapFileType::Bitmap, Path("bad.bmp").c_str(), block.data(), c.pixels.data()).error;
    };
    EXPECT_EQ(withHeader([](BitmapInfoHeader& x) { x.biHeight = 0; }), ImageError::BadArgument);
    EXPECT_EQ(withHeader([](BitmapInfoHeader& x) { x.biClrUsed = 257; }), ImageError::BadArgument);
    EXPECT_EQ(withHeader([](BitmapInfoHeader& x) { x.biBitCount = 4; }), ImageError::BadArgument);
    EXPECT_EQ(withHeader([](BitmapInfoHeader& x) { x.biWidth = 9; }), ImageError::BadArgument);
    EXPECT_EQ(withHeader([](BitmapInfoHeader& x) { x.biSizeImage = 0; }), ImageError::BadArgument);
    EXPECT_EQ(access(Path("bad.bmp").c_str(), F_OK), -1);

    const ImageStatus s = WriteBitmapFile(BitmapFileType::Jpeg, "/nonexistent-folder/x.jpg", c.header.data(), c.pixels.data());
    EXPECT_EQ(s.error, ImageError::OpenFailed);
    EXPECT_EQ(s.detail, ENOENT);
    EXPECT_EQ(WriteBitmapFile(BitmapFileType::Bitmap, "/dev/full", c.header.data(), c.pixels.data()).error,
              ImageError::WriteFailed);
}
