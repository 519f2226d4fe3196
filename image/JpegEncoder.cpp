// JPEG through libjpeg-turbo, with its default settings (quality 75). libjpeg reports errors by
// calling error_exit, which must not return: it jumps back to EncodeJpeg's setjmp, and only plain
// values live across that jump.
#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>

#include "image/Encoders.h"

namespace pximage {

namespace {

struct SJpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<SJpegErrors*>(info->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}

// The compressed bytes go to the file through a buffer of our own.
struct SJpegDestination {
    jpeg_destination_mgr pub;
    CFileOut* out;
    JOCTET buffer[65536];
};

void JpegInit(j_compress_ptr info)
{
    auto* d = reinterpret_cast<SJpegDestination*>(info->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
}

boolean JpegEmpty(j_compress_ptr info)
{
    auto* d = reinterpret_cast<SJpegDestination*>(info->dest);
    d->out->Write(d->buffer, sizeof d->buffer);
    if (d->out->Failed())
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    JpegInit(info);
    return TRUE;
}

void JpegTerm(j_compress_ptr info)
{
    auto* d = reinterpret_cast<SJpegDestination*>(info->dest);
    d->out->Write(d->buffer, sizeof d->buffer - d->pub.free_in_buffer);
}

} // namespace

ImageError EncodeJpeg(CFileOut* out, CRowSource* rows)
{
    SJpegDestination* dest = new (std::nothrow) SJpegDestination;
    if (dest == nullptr)
        return ImageError::NoMemory;
    dest->out = out;
    dest->pub.init_destination = JpegInit;
    dest->pub.empty_output_buffer = JpegEmpty;
    dest->pub.term_destination = JpegTerm;

    jpeg_compress_struct info;
    SJpegErrors errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JpegErrorExit;
    errors.pub.output_message = JpegQuiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        delete dest;
        return ImageError::EncoderFailed;
    }
    jpeg_create_compress(&info);
    info.dest = &dest->pub;
    info.image_width = rows->Width();
    info.image_height = rows->Height();
    switch (rows->Layout()) {
    case PixelLayout::Grey8: info.input_components = 1, info.in_color_space = JCS_GRAYSCALE; break;
    case PixelLayout::Bgr24: info.input_components = 3, info.in_color_space = JCS_EXT_BGR; break;
    case PixelLayout::Bgrx32: info.input_components = 4, info.in_color_space = JCS_EXT_BGRX; break;
    }
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    for (uint32_t y = 0; y < rows->Height(); ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(rows->Row(y));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    delete dest;
    return ImageError::Ok;
}

} // namespace pximage
