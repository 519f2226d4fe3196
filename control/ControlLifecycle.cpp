// The control's connection lifecycle: Start and Stop, the geometry negotiation, the buffers, the
// update thread and the buffer-list thread, the window messages the control handles and
// delivers, and the frame rate.
//
// Start and Stop run on the window's thread. Start makes the workers last, once everything they
// use exists; Stop ends them first and frees what they used after. A worker that outlives the
// waits of the teardown (the host holding the data lock, a camera that does not answer) is still
// waited for before its buffers go, so that no thread ever writes into freed memory; the stop
// events live as long as the control for the same reason.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/ControlLog.h"
#include "control/ControlText.h"
#include "control/PellixControl.h"
#include "image/Conversion.h"
#include "image/PixelFormat.h"
#include "log/XmlLogger.h"
#include "platform/Clock.h"

namespace pxcontrol {

namespace {

// Out of memory, in the control's error table.
constexpr uint32_t kOutOfMemory = 2060;

// Bytes of the receive buffer an information record asks for: the full image in the record's
// format (and in its band count, which a region reply uses), and never less than the data size
// the library reads into it.
uint64_t ReceiveBytesFor(uint32_t fullX, uint32_t fullY, uint32_t pixelFormat, uint32_t bands, uint32_t dataSize)
{
    uint32_t bpp = pximage::BytesPerPixel(pixelFormat);
    if (bpp == 0)
        bpp = 1;
    if (bands > bpp && bands <= 4)
        bpp = bands;
    const uint64_t full = uint64_t{fullX} * fullY * bpp;
    return full > dataSize ? full : dataSize;
}

} // namespace

// ---- Start -------------------------------------------------------------------------------------------

uint32_t CPellixControl::StartConnection()
{
    ControlTrace("Start()\n");
    if (m_bStarted)
        return 0;
    // A data lock the host left from before Start is given back with the flag.
    UnlockDataPtr();
    {
        raster::HDC window = m_pWrapper->GetWindowDC();
        px::CsLock display(m_csDisplay);
        m_hMemDC = raster::CreateCompatibleDC(window);
        m_pWrapper->ReleaseDC(window);
    }

    char number[32];
    m_strConnectionName[0] = '\0';
    if (m_pszServerName != nullptr) {
        AppendBounded(m_strConnectionName, kConnectionNameSize, m_pszServerName);
    } else if (m_byServerIP != nullptr) {
        const uint32_t address = m_byServerIP[0] | (m_byServerIP[1] << 8) | (m_byServerIP[2] << 16) |
                                 (uint32_t{m_byServerIP[3]} << 24);
        snprintf(number, sizeof number, "%08" PRIX32, address);
        AppendBounded(m_strConnectionName, kConnectionNameSize, number);
    } else {
        AppendBounded(m_strConnectionName, kConnectionNameSize, "Unknown");
    }
    AppendBounded(m_strConnectionName, kConnectionNameSize, ":");
    AppendBounded(m_strConnectionName, kConnectionNameSize, m_strClientName);
    snprintf(number, sizeof number, ":%d:", m_usPort);
    AppendBounded(m_strConnectionName, kConnectionNameSize, number);
    snprintf(number, sizeof number, "%4.4s", m_strBufferId);
    AppendBounded(m_strConnectionName, kConnectionNameSize, number);
    memcpy(m_szStreamId, m_strBufferId, sizeof m_szStreamId);

    if (m_bClientOk) {
        PXHANDLE handle = 0;
        const uint32_t timeout = static_cast<uint32_t>(m_lClientTimeout);
        const uint32_t r = m_bAgent ? PXClientInit(m_pszServerName, m_byServerIP, m_strClientName, &handle, timeout,
                                                   1, 3000, 5000, static_cast<uint32_t>(-1))
                                    : PXClientInit(m_pszServerName, m_byServerIP, m_strClientName, &handle, timeout,
                                                   0, 0, 0, 1);
        m_hClient = handle;
        m_dwError = r;
        if (r != PX_OK)
            m_bClientOk = 0; // for the life of the control
    }
    auto healthy = [this] { return m_bClientOk && m_dwError == PX_OK; };

    if (!m_bAgent && m_usPort != 0 && m_szStreamId[0] != '\0') {
        if (healthy())
            m_dwError = PXSetExchangeBuffer(m_hClient, m_usPort, StreamId(), 1, m_dwLinkedAgentID);
        if (healthy()) {
            uint32_t type = m_dwBufferType;
            m_dwError = PXGetExchangeBufferInfo(m_hClient, StreamId(), PX_INFO_BUFFER_TYPE, &type);
            m_dwBufferType = type;
        }
        snprintf(number, sizeof number, ":%d", static_cast<int>(m_dwBufferType));
        AppendBounded(m_strConnectionName, kConnectionNameSize, number);

        auto reading = [&] { return healthy() && m_dwBufferType != PX_BUFTYPE_INPUT; };
        if (reading())
            NegotiateGeometry();
        if (reading() && !AllocateReceiveBuffer())
            m_dwError = kOutOfMemory;
        if (reading()) {
            px::CsLock data(m_csData);
            if (!AllocateDataBuffers())
                m_dwError = kOutOfMemory;
        }
        if (reading() && !CreateUpdateThread())
            m_dwError = kOutOfMemory;

        if (healthy()) {
            const bool image = m_dwBufferType == PX_BUFTYPE_IMAGE;
            if (image)
                m_uTimerId = m_pWrapper->SetTimer(kFrameRateTimerId, m_dwFPSRefreshDelay);
            if (m_nDisplayMode < 1) {
                PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_MSG, "Using GDI");
            } else if (image) {
                display::HWND window = m_pWrapper->GetWindowHandle();
                int32_t mode = m_nDisplayMode;
                uint32_t fullX, fullY;
                {
                    px::CsLock data(m_csData);
                    fullX = m_dwFullSizeX;
                    fullY = m_dwFullSizeY;
                }
                display::CDXDisplay* backEnd = display::GetDXInstance(fullX, fullY, &mode, window);
                if (backEnd == nullptr)
                    mode = 0;
                else
                    backEnd->InitDD(window);
                px::CsLock data(m_csData);
                px::CsLock display(m_csDisplay);
                m_pDisplay = backEnd;
                m_nDisplayMode = mode;
            }
            const uint32_t type = m_dwBufferType;
            if (type == PX_BUFTYPE_IMAGE || type == PX_BUFTYPE_HISTOGRAM || type == PX_BUFTYPE_ARRAY)
                RecreateBackBuffer();
        }
        m_bConnected = 1;
    }
    if (m_bAgent && healthy() && !CreateBufferListThread())
        m_dwError = kOutOfMemory;
    m_bStarted = 1;
    m_bStopping = 0;
    return m_dwError;
}

void CPellixControl::NegotiateGeometry()
{
    const PXHANDLE h = m_hClient;
    const char* id = StreamId();
    // Results are not examined: an item that cannot be read or written keeps the field.
    auto get = [&](uint32_t item, uint32_t* field) {
        uint32_t value = *field;
        if (PXGetExchangeBufferInfo(h, id, item, &value) == PX_OK)
            *field = value;
    };
    auto set = [&](uint32_t item, uint32_t value) { PXSetExchangeBufferInfo(h, id, item, &value); };

    px::CsLock data(m_csData);
    switch (m_dwBufferType) {
    case PX_BUFTYPE_IMAGE:
        get(PX_INFO_DATA_SIZE, &m_dwBufferSize);
        get(PX_INFO_FULL_SIZE_X, &m_dwFullSizeX);
        get(PX_INFO_FULL_SIZE_Y, &m_dwFullSizeY);
        get(PX_INFO_NUM_BANDS, &m_dwNumBands);
        get(PX_INFO_IMAGE_FORMAT, &m_dwPixelFormat);
        if (m_dwSizeX == 0 || m_dwSizeX >= m_dwFullSizeX)
            get(PX_INFO_SIZE_X, &m_dwSizeX);
        else
            set(PX_INFO_SIZE_X, m_dwSizeX);
        m_dwNewSizeX = m_dwSizeX;
        if (m_dwSizeY == 0 || m_dwSizeY >= m_dwFullSizeY)
            get(PX_INFO_SIZE_Y, &m_dwSizeY);
        else
            set(PX_INFO_SIZE_Y, m_dwSizeY);
        m_dwNewSizeY = m_dwSizeY;
        m_dwCopyFormat = pximage::ChooseCopyFormat(m_dwPixelFormat, m_dwDisplayOptions, m_dwForceCopyFormat);
        if (!pximage::CopyLayout(m_dwCopyFormat, m_dwSizeX, m_dwSizeY, &m_dwStride, &m_dwImageSize))
            m_dwStride = m_dwImageSize = 0;
        if (m_dwOffsetX != 0 && m_dwSizeX + m_dwOffsetX < m_dwFullSizeX)
            set(PX_INFO_OFFSET_X, m_dwOffsetX);
        else
            get(PX_INFO_OFFSET_X, &m_dwOffsetX);
        m_dwNewOffsetX = m_dwOffsetX;
        if (m_dwOffsetY != 0 && m_dwSizeY + m_dwOffsetY < m_dwFullSizeY)
            set(PX_INFO_OFFSET_Y, m_dwOffsetY);
        else
            get(PX_INFO_OFFSET_Y, &m_dwOffsetY);
        m_dwNewOffsetY = m_dwOffsetY;
        if (m_dwSubsection <= 2)
            set(PX_INFO_SUBSECTION, m_dwSubsection);
        else
            get(PX_INFO_SUBSECTION, &m_dwSubsection);
        m_dwNewSubsection = m_dwSubsection;
        break;
    case 2:
    case PX_BUFTYPE_HISTOGRAM:
    case 7:
    case 8:
    case 9:
    case 10:
        get(PX_INFO_DATA_SIZE, &m_dwBufferSize);
        get(PX_INFO_1008, &m_dwSizeX);
        break;
    case 3:
    case 4:
    case PX_BUFTYPE_TEXT:
    case PX_BUFTYPE_ARRAY:
        get(PX_INFO_DATA_SIZE, &m_dwBufferSize);
        get(PX_INFO_SIZE_X, &m_dwSizeX);
        get(PX_INFO_SIZE_Y, &m_dwSizeY);
        break;
    default:
        break;
    }
}

bool CPellixControl::AllocateReceiveBuffer()
{
    px::CsLock data(m_csData);
    free(m_pReceive);
    m_pReceive = nullptr;
    m_nReceiveSize = 0;
    const uint64_t bytes = m_dwBufferType == PX_BUFTYPE_IMAGE
                               ? ReceiveBytesFor(m_dwFullSizeX, m_dwFullSizeY, m_dwPixelFormat, m_dwNumBands,
                                                 m_dwBufferSize)
                               : m_dwBufferSize;
    if (bytes > SIZE_MAX)
        return false;
    m_pReceive = static_cast<uint8_t*>(calloc(bytes ? bytes : 1, 1));
    m_nReceiveSize = m_pReceive ? bytes : 0;
    return m_pReceive != nullptr;
}

bool CPellixControl::AllocateDataBuffers()
{
    free(m_pData);
    free(m_pDIBHeader);
    m_pData = nullptr;
    m_pDIBHeader = nullptr;
    if (m_dwBufferType == PX_BUFTYPE_IMAGE) {
        const size_t headerBytes = pximage::DibHeaderBytes(m_dwCopyFormat);
        m_pData = static_cast<uint8_t*>(calloc(m_dwImageSize ? m_dwImageSize : 1, 1));
        m_pDIBHeader = static_cast<uint8_t*>(calloc(headerBytes, 1));
        if (m_pData == nullptr || m_pDIBHeader == nullptr)
            return false;
        pximage::FillDibHeader(m_pDIBHeader, m_dwCopyFormat, m_dwPixelFormat, m_dwSizeX, m_dwSizeY, m_dwImageSize);
    } else {
        m_pData = static_cast<uint8_t*>(calloc(m_dwBufferSize ? m_dwBufferSize : 1, 1));
        if (m_pData == nullptr)
            return false;
    }
    m_bFirstRead = 1;
    return true;
}

void CPellixControl::FreeBuffers()
{
    free(m_pDIBHeader);
    free(m_pData);
    free(m_pReceive);
    m_pDIBHeader = m_pData = m_pReceive = nullptr;
    m_nReceiveSize = 0;
}

// ---- Threads ---------------------------------------------------------------------------------------------

bool CPellixControl::CreateUpdateThread()
{
    // A thread that outlived an earlier teardown has been waited for by Stop; this only joins it.
    m_hUpdateThread.Join();
    m_hUpdateStopEvent.Reset();
    m_updateEnded.Reset();
    return m_hUpdateThread.Start("UpdateThread", [this] { UpdateThreadBody(); }) == 0;
}

void CPellixControl::UpdateThreadBody()
{
    ControlNameThread("UpdateThread");
    while (!m_hUpdateStopEvent.TryConsume()) {
        UpdateStep();
        Redraw();
    }
    m_updateEnded.Set();
}

void CPellixControl::EndUpdateThread()
{
    if (!m_hUpdateThread.Running())
        return;
    m_hUpdateStopEvent.Set();
    PXForceTransferInProgress(m_hClient, StreamId());
    if (m_updateEnded.Wait(m_timing.dwUpdateEndMs) != px::WaitResult::Signaled) {
        PXCancelTransfers(m_hClient);
        if (m_updateEnded.Wait(m_timing.dwUpdateCancelledEndMs) != px::WaitResult::Signaled) {
            ControlTrace("Stop(): the update thread did not end in time; waiting for it\n");
            // A thread held back by the host's data lock can only go on once it is given back;
            // Stop runs on the thread that holds it.
            UnlockDataPtr();
        }
    }
    m_hUpdateThread.Join();
}

bool CPellixControl::CreateBufferListThread()
{
    if (m_dwBufferListUpdatePeriod == 0)
        return true;
    m_hListThread.Join();
    m_hListStopEvent.Reset();
    m_listEnded.Reset();
    return m_hListThread.Start("UpdateBufferList", [this] { BufferListThreadBody(); }) == 0;
}

void CPellixControl::BufferListThreadBody()
{
    const int refresh = PXGetRefreshListEvent(m_hClient);
    uint32_t period = m_dwBufferListUpdatePeriod;
    ControlNameThread("UpdateBufferList");
    while (period != 0) {
        px::Event* stop = &m_hListStopEvent;
        const int r = px::Event::WaitAnyOrDescriptor(&stop, 1, refresh, period);
        if (r != 1 && r != px::kWaitTimeout)
            break; // the stop event, or a failed wait
        if (m_dwBufferListUpdatePeriod == 0) {
            period = m_timing.dwListIdleMs;
            continue;
        }
        RefreshBufferListText();
        DeliverMessage(kBufferListMessage, 0, 0);
        period = m_dwBufferListUpdatePeriod;
    }
    m_listEnded.Set();
}

void CPellixControl::DestroyUpdateBufferListThread()
{
    ControlTrace("DestroyUpdateBufferListThread() \n");
    if (!m_hListThread.Running())
        return;
    m_hListStopEvent.Set();
    if (m_listEnded.Wait(m_timing.dwListEndMs) != px::WaitResult::Signaled)
        ControlTrace("ERROR: DestroyUpdateBufferListThread() Wait thread end TIMEOUT\n");
    m_hListThread.Join();
}

// ---- The update step -----------------------------------------------------------------------------------

void CPellixControl::UpdateStep()
{
    if (!IsStreaming()) {
        // The pause ends early for Stop, whose signal is put back for the loop to see.
        if (m_hUpdateStopEvent.Wait(m_timing.dwIdleMs) == px::WaitResult::Signaled)
            m_hUpdateStopEvent.Set();
        return;
    }
    const PXHANDLE h = m_hClient;
    const bool image = m_dwBufferType == PX_BUFTYPE_IMAGE;
    uint8_t* receive;
    {
        px::CsLock data(m_csData);
        receive = m_pReceive;
    }
    PXBufferInfo record;
    memset(&record, 0, sizeof record);
    uint32_t received = 0;
    const uint32_t r = PXGetExchangeBufferData(h, StreamId(), m_bFirstRead ? 1 : 0, receive, image ? &record : nullptr,
                                               &received);
    if (r == PX_BUFFER_CHANGED) {
        // Another client changed the window or the format: a new geometry, not a failure.
        m_dwError = PX_OK;
        ReadRecordAfterChange();
        return;
    }
    m_dwError = r;
    if (received) {
        uint32_t serial[2] = {0, 0};
        if (PXGetExchangeBufferDataDesc(h, StreamId(), PX_DESC_SERIAL, serial) == PX_OK)
            m_qwSerialCounter = serial[0] | (uint64_t{serial[1]} << 32);
    }
    if (m_bStopping) {
        m_bSyncDataMessage = 0;
    } else {
        uint32_t sync = 0;
        PXGetExchangeBufferDataDesc(h, StreamId(), PX_DESC_SYNC_DELIVERY, &sync);
        m_bSyncDataMessage = sync;
    }

    bool resized = false;
    {
        px::CsLock data(m_csData);
        if (!image) {
            if (m_pData != nullptr && m_pReceive != nullptr && m_nReceiveSize >= m_dwBufferSize)
                memcpy(m_pData, m_pReceive, m_dwBufferSize);
        } else if (received) {
            const auto& rec = record.image;
            if (rec.sizeX != m_dwSizeX || rec.sizeY != m_dwSizeY || rec.offsetX != m_dwOffsetX ||
                rec.offsetY != m_dwOffsetY || rec.subsection != m_dwSubsection || rec.format != m_dwPixelFormat)
                resized = ApplyImageRecord(record);
            const uint64_t sourceBytes = uint64_t{m_dwSizeX} * m_dwSizeY * pximage::BytesPerPixel(m_dwPixelFormat);
            if (rec.subsection <= 1 && m_pData != nullptr && m_pReceive != nullptr && sourceBytes <= m_nReceiveSize) {
                const pximage::CopyMessage message = pximage::CopyConvert(
                    m_pReceive, m_dwPixelFormat, m_dwSizeX, m_dwSizeY, m_pData, m_dwCopyFormat, m_dwStride);
                if (!message.Empty())
                    ControlTrace(message.text);
            }
        }
    }
    if (resized)
        DeliverMessage(WM_SIZE, 0, 0);
    if (m_dwError != PX_OK)
        m_pWrapper->Invalidate();
    if (received) {
        ++m_dwFrameCount;
        m_bFirstRead = 0;
        if (m_pWrapper->GetWindowHandle() != nullptr)
            DeliverMessage(kDataMessage, 0, 0);
    }
}

bool CPellixControl::ApplyImageRecord(const PXBufferInfo& record)
{
    const auto& rec = record.image;
    m_dwSizeX = rec.sizeX;
    m_dwSizeY = rec.sizeY;
    m_dwOffsetX = rec.offsetX;
    m_dwOffsetY = rec.offsetY;
    m_dwSubsection = rec.subsection;
    m_dwPixelFormat = rec.format;
    if (rec.fullSizeX != 0 && rec.fullSizeY != 0) {
        m_dwFullSizeX = rec.fullSizeX;
        m_dwFullSizeY = rec.fullSizeY;
    }
    m_dwNumBands = rec.numBands;
    m_dwBufferSize = rec.dataSize;
    m_dwCopyFormat = pximage::ChooseCopyFormat(m_dwPixelFormat, m_dwDisplayOptions, m_dwForceCopyFormat);
    if (!pximage::CopyLayout(m_dwCopyFormat, m_dwSizeX, m_dwSizeY, &m_dwStride, &m_dwImageSize))
        m_dwStride = m_dwImageSize = 0;
    // The library reads up to the record's size into the receive buffer: it grows with it.
    const uint64_t needed = ReceiveBytesFor(m_dwFullSizeX, m_dwFullSizeY, m_dwPixelFormat, m_dwNumBands, m_dwBufferSize);
    if (needed > m_nReceiveSize) {
        free(m_pReceive);
        m_pReceive = needed <= SIZE_MAX ? static_cast<uint8_t*>(calloc(needed, 1)) : nullptr;
        m_nReceiveSize = m_pReceive ? needed : 0;
    }
    if (!AllocateDataBuffers() || m_pReceive == nullptr)
        m_dwError = kOutOfMemory;
    px::CsLock display(m_csDisplay);
    return m_pDisplay != nullptr;
}

void CPellixControl::ReadRecordAfterChange()
{
    bool resized = false;
    if (m_dwBufferType == PX_BUFTYPE_IMAGE) {
        PXBufferInfo record;
        memset(&record, 0, sizeof record);
        if (PXGetExchangeBufferInfoStruct(m_hClient, StreamId(), &record) != PX_OK)
            return;
        px::CsLock data(m_csData);
        resized = ApplyImageRecord(record);
    } else {
        uint32_t size = 0;
        if (PXGetExchangeBufferInfo(m_hClient, StreamId(), PX_INFO_DATA_SIZE, &size) != PX_OK)
            return;
        {
            px::CsLock data(m_csData);
            m_dwBufferSize = size;
        }
        if (!AllocateReceiveBuffer())
            m_dwError = kOutOfMemory;
        px::CsLock data(m_csData);
        if (!AllocateDataBuffers())
            m_dwError = kOutOfMemory;
    }
    if (resized)
        DeliverMessage(WM_SIZE, 0, 0);
}

void CPellixControl::DeliverMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (!m_bSyncDataMessage) {
        m_pWrapper->DeliverMessage(msg, wParam, lParam, false, 0);
        return;
    }
    // Sent until it is processed, Stop begins, or the window is gone.
    while (!m_pWrapper->DeliverMessage(msg, wParam, lParam, true, m_timing.dwSendTimeoutMs)) {
        if (m_bStopping || m_pWrapper->GetWindowHandle() == nullptr)
            break;
    }
}

// ---- Stop -------------------------------------------------------------------------------------------------

uint32_t CPellixControl::StopConnection()
{
    ControlTrace("Stop()\n");
    m_bStopping = 1;
    if (!m_bStarted)
        return 0;
    // The list thread runs only in agent mode; the host may have changed Agent since Start.
    if (m_bClientOk)
        DestroyUpdateBufferListThread();
    const uint32_t type = m_dwBufferType;
    if (m_bConnected && m_bClientOk) {
        if (type == PX_BUFTYPE_IMAGE)
            m_pWrapper->KillTimer(m_uTimerId);
        if (type != PX_BUFTYPE_INPUT)
            EndUpdateThread();
    }
    px::SleepMs(m_timing.dwStopSettleMs);
    if (m_bClientOk) {
        m_dwError = PXClientTerminate(m_hClient);
        m_hClient = 0;
    }
    if (m_bConnected) {
        px::CsLock data(m_csData);
        FreeBuffers();
        m_fZoom = 1.0f;
        m_dwSizeX = m_dwSizeY = m_dwOffsetX = m_dwOffsetY = 0;
        m_dwSubsection = 1;
        m_dwNewSizeX = m_dwNewSizeY = m_dwNewOffsetX = m_dwNewOffsetY = 0;
        m_dwNewSubsection = 1;
        m_bConnected = 0;
        m_dwBufferType = 0;
    }
    free(m_pszServerName);
    free(m_byServerIP);
    m_pszServerName = nullptr;
    m_byServerIP = nullptr;
    ReleaseBackBuffer();
    {
        px::CsLock data(m_csData);
        px::CsLock display(m_csDisplay);
        if (m_pDisplay != nullptr) {
            m_pDisplay->ReleaseAll();
            delete m_pDisplay;
            m_pDisplay = nullptr;
        }
    }
    m_bStarted = 0;
    return m_dwError;
}

// ---- Window messages -----------------------------------------------------------------------------------

bool CPellixControl::OnWindowMessage(uint32_t uMsg, uintptr_t wParam, intptr_t lParam)
{
    if (m_bStopping)
        return false;
    ControlTraceFormat("OnWindowMessage(): uMsg:%d wParam:%d lParam:%d\n", static_cast<int>(uMsg),
                       static_cast<int>(wParam), static_cast<int>(lParam));
    switch (uMsg) {
    case WM_DESTROY:
        StopConnection();
        return true;
    case WM_SIZE:
        RecreateBackBuffer();
        return true;
    case WM_ERASEBKGND:
        return true;
    case WM_TIMER:
        if (wParam == kFrameRateTimerId)
            UpdateFrameRate();
        return true;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        OnMouseMessage(uMsg, wParam, lParam);
        return false;
    case kDataMessage:
        OnDataMessage();
        return true;
    case kBufferListMessage:
        OnListMessage();
        return true;
    default:
        return false;
    }
}

void CPellixControl::UpdateFrameRate()
{
    const uint32_t now = px::TickCount();
    float rate = 0.0f;
    if (m_dwLastTick != 0) {
        const uint32_t elapsed = now - m_dwLastTick;
        rate = static_cast<float>(static_cast<double>(uint32_t(m_dwFrameCount)) * 1000.0 /
                                  static_cast<double>(elapsed ? elapsed : 1));
    }
    m_dwLastTick = now;
    m_fDisplayRate = rate;
    m_dwFrameCount = 0;
    m_pWrapper->Invalidate();
}

} // namespace pxcontrol
