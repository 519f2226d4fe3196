// Reading written files back: their bytes, and decoders of the same libraries the writers use,
// each giving the picture top-down as red, green, blue (or grey when asked and the file is grey).
#pragma once

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

struct DecodedImage {
    uint32_t width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;
};

inline bool ReadPngFile(const std::string& path, bool grey, DecodedImage* image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    const bool fileGrey = (png.format & PNG_FORMAT_FLAG_COLOR) == 0;
    png.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    image->width = png.width;
    image->height = png.height;
    image->channels = grey ? 1 : 3;
    return png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr) != 0 && fileGrey == grey;
}

namespace imagetest {
struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }
} // namespace imagetest

inline bool ReadJpegFile(const std::string& path, DecodedImage* image)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    jpeg_decompress_struct info;
    imagetest::JpegErrors errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = imagetest::JpegFail;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, f);
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    image->width = info.output_width;
    image->height = info.output_height;
    image->channels = static_cast<uint32_t>(info.output_components);
    image->pixels.resize(size_t{image->width} * image->height * image->channels);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->pixels.data() + size_t{info.output_scanline} * image->width * image->channels;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(f);
    return true;
}

inline bool ReadTiffFile(const std::string& path, DecodedImage* image)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr)
        return false;
    uint32_t w = 0, h = 0;
    uint16_t samples = 0, bits = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    bool ok = bits == 8 && (samples == 1 || samples == 3);
    image->width = w;
    image->height = h;
    image->channels = samples;
    image->pixels.resize(size_t{w} * h * samples);
    for (uint32_t y = 0; ok && y < h; ++y)
        ok = TIFFReadScanline(tif, image->pixels.data() + size_t{y} * w * samples, y, 0) == 1;
    TIFFClose(tif);
    return ok;
}
