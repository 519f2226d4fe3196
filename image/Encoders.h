// What the image writers share inside the module: the file being written and the encoders over
// a source of top-down rows. Not for use outside image/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/ImageWriter.h"
#include "platform/File.h"

namespace pximage {

inline ImageStatus Fail(ImageError error, int detail = 0) { return ImageStatus{error, detail}; }

// A file being written: created at once (so that an unwritable path shows as OpenFailed), written
// piece by piece (after the first failure nothing more is written), closed by Finish. When
// anything failed, Finish removes the file if asked to and it is a regular file (a device or pipe
// named as the target is not ours to remove).
class CFileOut {
public:
    explicit CFileOut(bool removeWhenFailed) : m_bRemoveWhenFailed(removeWhenFailed) {}
    ~CFileOut();
    CFileOut(const CFileOut&) = delete;
    CFileOut& operator=(const CFileOut&) = delete;

    ImageStatus Create(const char* path);
    void Write(const void* data, size_t size);
    bool Failed() const { return !m_status.Ok(); }
    void SetFailed(ImageStatus status);
    ImageStatus Finish();

private:
    bool m_bRemoveWhenFailed;
    px::FileHandle m_hFile = px::kInvalidFile;
    const char* m_pPath = nullptr;
    ImageStatus m_status;
};

// The rows of an image from the top, in one of the writers' layouts.
class CRowSource {
public:
    CRowSource(uint32_t width, uint32_t height, PixelLayout layout) : m_width(width), m_height(height), m_layout(layout) {}
    virtual ~CRowSource() = default;
    // Row y (0 at the top); valid until the next call.
    virtual const uint8_t* Row(uint32_t y) = 0;
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    PixelLayout Layout() const { return m_layout; }

private:
    uint32_t m_width, m_height;
    PixelLayout m_layout;
};

// Rows at a fixed stride in memory.
class CStridedRows : public CRowSource {
public:
    CStridedRows(const uint8_t* data, size_t stride, uint32_t width, uint32_t height, PixelLayout layout)
        : CRowSource(width, height, layout), m_pData(data), m_stride(stride)
    {
    }
    const uint8_t* Row(uint32_t y) override { return m_pData + y * m_stride; }

private:
    const uint8_t* m_pData;
    size_t m_stride;
};

// Each returns Ok or the encoder's failure; the file's own failures are in out.
ImageError EncodePng(CFileOut* out, CRowSource* rows);
ImageError EncodeJpeg(CFileOut* out, CRowSource* rows);
ImageError EncodeTiff(CFileOut* out, CRowSource* rows);

} // namespace pximage
