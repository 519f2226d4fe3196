// Helpers of the back-end tests: the section-4 log of one test with each record's level, a
// configuration file of one test, and the viewer's calling order (a frame, an overlay redraw, a
// presentation) as the control drives a back-end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../log/LogTestUtil.h"
#include "display/DXDisplay.h"
#include "log/PellixLogger.h"
#include "log/XmlLogger.h"
#include "raster/Gdi.h"

namespace displaytest {

// The process log on a temporary file for one test.
class CGraphicLog {
public:
    CGraphicLog() { PXInitLogger(m_file.CPath()); }
    ~CGraphicLog() { DestroyXmlLogger(); }
    CGraphicLog(const CGraphicLog&) = delete;
    CGraphicLog& operator=(const CGraphicLog&) = delete;

    // Section-4 records as "LEVEL text", from the record numbered from on (see Size).
    std::vector<std::string> Lines(size_t from = 0) const
    {
        std::vector<std::string> lines;
        const std::vector<LogRecord> records = ParseRecords(m_file.Read());
        for (size_t i = from; i < records.size(); ++i) {
            EXPECT_EQ(records[i].section, "Graphic");
            lines.push_back(records[i].type + " " + records[i].data);
        }
        return lines;
    }
    // The number of records so far: a mark for Lines and Contains.
    size_t Size() const { return ParseRecords(m_file.Read()).size(); }
    // Whether a record from the mark on reads exactly line ("LEVEL text").
    bool Contains(const std::string& line, size_t from = 0) const
    {
        for (const std::string& l : Lines(from)) {
            if (l == line)
                return true;
        }
        return false;
    }

private:
    TempLogFile m_file;
};

// VISTEL_CONFIG names a file with these lines for the test's life.
class CScopedConfig {
public:
    explicit CScopedConfig(const std::string& lines)
    {
        m_file.Write(lines);
        const char* previous = getenv("VISTEL_CONFIG");
        m_bHad = previous != nullptr;
        if (previous)
            m_previous = previous;
        setenv("VISTEL_CONFIG", m_file.CPath(), 1);
    }
    ~CScopedConfig()
    {
        if (m_bHad)
            setenv("VISTEL_CONFIG", m_previous.c_str(), 1);
        else
            unsetenv("VISTEL_CONFIG");
    }
    CScopedConfig(const CScopedConfig&) = delete;
    CScopedConfig& operator=(const CScopedConfig&) = delete;

private:
    TempLogFile m_file;
    bool m_bHad = false;
    std::string m_previous;
};

// A 32-bit picture in a memory DC.
class CPicture {
public:
    CPicture(int32_t width, int32_t height)
        : m_nWidth(width), m_nHeight(height), m_hDC(raster::CreateCompatibleDC(nullptr)),
          m_hBitmap(raster::CreateCompatibleBitmap(nullptr, width, height))
    {
        m_hOld = raster::SelectObject(m_hDC, m_hBitmap);
    }
    ~CPicture()
    {
        raster::SelectObject(m_hDC, m_hOld);
        raster::DeleteObject(m_hBitmap);
        raster::DeleteDC(m_hDC);
    }
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    void Fill(int32_t left, int32_t top, int32_t right, int32_t bottom, raster::COLORREF color)
    {
        const raster::RECT rect = {left, top, right, bottom};
        raster::HBRUSH brush = raster::CreateSolidBrush(color);
        raster::FillRect(m_hDC, &rect, brush);
        raster::DeleteObject(brush);
    }
    raster::HDC DC() const { return m_hDC; }
    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }

private:
    int32_t m_nWidth, m_nHeight;
    raster::HDC m_hDC;
    raster::HBITMAP m_hBitmap;
    raster::HGDIOBJ m_hOld;
};

// The viewer's frame: the image into the video surface (1:1 where the back-end stretches, else
// stretched to the client size), then the move to the intermediate surface.
inline int32_t RenderFrame(display::CDXDisplay& backEnd, const CPicture& image, int32_t clientWidth,
                           int32_t clientHeight)
{
    const int32_t valid = backEnd.IsValid();
    if (valid != 1 && valid != 10)
        return valid;
    raster::HDC video = nullptr;
    backEnd.GetVideoDC(&video);
    if (backEnd.CanStretch() == 0) {
        raster::SetStretchBltMode(video, raster::COLORONCOLOR);
        raster::StretchBlt(video, 0, 0, clientWidth, clientHeight, image.DC(), 0, 0, image.Width(), image.Height(),
                           raster::SRCCOPY);
    } else {
        raster::BitBlt(video, 0, 0, image.Width(), image.Height(), image.DC(), 0, 0, raster::SRCCOPY);
    }
    backEnd.ReleaseVideoDC(video);
    backEnd.PresentVideo();
    return valid;
}

// The viewer's overlay redraw: cleared to the transparent colour, then drawn.
inline void RedrawOverlay(display::CDXDisplay& backEnd, const std::function<void(raster::HDC)>& draw)
{
    if (backEnd.IsValid() == 0)
        return;
    backEnd.ClearOverlay();
    raster::HDC overlay = nullptr;
    backEnd.GetOverlayDC(&overlay);
    if (overlay)
        draw(overlay);
    backEnd.ReleaseOverlayDC(overlay);
}

inline void FillOn(raster::HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom, raster::COLORREF color)
{
    const raster::RECT rect = {left, top, right, bottom};
    raster::HBRUSH brush = raster::CreateSolidBrush(color);
    raster::FillRect(dc, &rect, brush);
    raster::DeleteObject(brush);
}

} // namespace displaytest
