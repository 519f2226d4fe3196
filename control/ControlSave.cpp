// Saving and copying the converted image: SaveImage with its file dialog, and the copy to the
// clipboard. Both run on the window's thread and read the bitmap (m_pDIBHeader and m_pData)
// under m_csData, so the update thread cannot convert into it while it is written.
#include <string>

#include "control/PellixControl.h"
#include "image/BitmapFiles.h"

namespace pxcontrol {

namespace {

// A save type that names a file format.
struct SSaveType {
    uint32_t dwType;
    pximage::BitmapFileType file;
    const char* description;  // the dialog's entry: description and pattern
    const char* pattern;
    const char* extension;    // the dialog's default extension
};

// The picture formats in the dialog's order; raw bytes (7) have no entry.
constexpr SSaveType kPictureTypes[] = {
    {1, pximage::BitmapFileType::Bitmap, "Bitmap Files", "*.BMP", "BMP"},
    {2, pximage::BitmapFileType::Jpeg, "Jpeg Files", "*.JPG", "JPG"},
    {4, pximage::BitmapFileType::Png, "PNG Files", "*.PNG", "PNG"},
    {5, pximage::BitmapFileType::Tiff, "Tiff Files", "*.TIFF", "TIFF"},
};
constexpr SSaveType kRawType = {7, pximage::BitmapFileType::Raw, "", "", ""};

const SSaveType* SaveTypeOf(uint32_t dwType)
{
    for (const SSaveType& t : kPictureTypes) {
        if (t.dwType == dwType)
            return &t;
    }
    return dwType == kRawType.dwType ? &kRawType : nullptr;
}

constexpr uint32_t kPathSize = 260;

} // namespace

HRESULT CPellixControl::SaveImage(uint32_t dwType, const char* fileName, uint32_t* pVal)
{
    const uint32_t written = SaveImageFile(dwType, fileName);
    if (pVal != nullptr)
        *pVal = written;
    return S_OK;
}

uint32_t CPellixControl::SaveImageFile(uint32_t dwType, const char* fileName)
{
    if (fileName == nullptr || !IsStreamingImage())
        return 0;
    px::CsLock data(m_csData);
    if (m_pDIBHeader == nullptr || m_pData == nullptr)
        return 0;
    const SSaveType* type = SaveTypeOf(dwType == 0 ? 1 : dwType);
    std::string path = fileName;
    if (path.empty()) {
        // The dialog offers the requested type's entry, or every picture format for type 0.
        const char* filters[2 * std::size(kPictureTypes)];
        const SSaveType* shown[std::size(kPictureTypes)];
        uint32_t count = 0;
        for (const SSaveType& t : kPictureTypes) {
            if (dwType != 0 && t.dwType != dwType)
                continue;
            filters[2 * count] = t.description;
            filters[2 * count + 1] = t.pattern;
            shown[count++] = &t;
        }
        char chosenPath[kPathSize] = {};
        uint32_t chosen = 0;
        if (!m_pWrapper->SaveFileDialog(filters, count, "Save Dravik KELVO Image", "IMAGE000",
                                        type != nullptr ? type->extension : "", chosenPath, kPathSize, &chosen))
            return 0;
        chosenPath[kPathSize - 1] = 0;
        path = chosenPath;
        if (chosen < count)
            type = shown[chosen];
    }
    if (type == nullptr || path.empty())
        return 0;
    return pximage::WriteBitmapFile(type->file, path.c_str(), m_pDIBHeader, m_pData).Ok() ? 1 : 0;
}

void CPellixControl::CopyImage()
{
    if (!IsStreamingImage())
        return;
    px::CsLock data(m_csData);
    px::CsLock display(m_csDisplay);
    if (m_pDIBHeader == nullptr || m_pData == nullptr || m_hMemDC == nullptr)
        return;
    const int32_t width = static_cast<int32_t>(m_dwSizeX), height = static_cast<int32_t>(m_dwSizeY);
    raster::HBITMAP bitmap = raster::CreateCompatibleBitmap(m_hMemDC, width, height);
    if (bitmap == nullptr)
        return;
    raster::BITMAP info{};
    if (raster::SetDIBits(m_hMemDC, bitmap, 0, m_dwSizeY, m_pData,
                          reinterpret_cast<const raster::BITMAPINFO*>(m_pDIBHeader), raster::DIB_RGB_COLORS) > 0 &&
        raster::GetObjectA(bitmap, sizeof info, &info) == sizeof info && info.bmBits != nullptr) {
        const PXSurface surface{static_cast<uint8_t*>(info.bmBits), info.bmWidth, info.bmHeight, info.bmWidthBytes};
        m_pWrapper->SetClipboardBitmap(surface);
    }
    raster::DeleteObject(bitmap);
}

} // namespace pxcontrol
