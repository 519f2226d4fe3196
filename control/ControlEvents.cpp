// Events and input: the data and list messages turned into events on the window's thread, the
// buffer-list text, and the SendInput family.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "control/ControlText.h"
#include "control/PackedArray.h"
#include "control/PellixControl.h"
#include "control/Variant.h"

namespace pxcontrol {

void CPellixControl::OnDataMessage()
{
    if (!IsStreaming())
        return;
    m_pWrapper->FireOnDataReceive(m_strConnectionName);
    switch (m_dwBufferType) {
    case PX_BUFTYPE_TEXT: {
        BSTR text;
        {
            px::CsLock data(m_csData);
            text = m_pData != nullptr ? Utf16ToUtf8(m_pData, m_dwBufferSize / 2) : AllocText("");
        }
        if (text == nullptr)
            return; // no memory for the text: the event is not fired
        m_pWrapper->FireOnTextReceived(text);
        free(text);
        break;
    }
    case PX_BUFTYPE_ARRAY: {
        PXVariant array{};
        HRESULT hr;
        {
            px::CsLock data(m_csData);
            hr = UnpackArray(m_pData, m_pData != nullptr ? m_dwBufferSize : 0, &array);
        }
        if (hr != S_OK)
            return;
        m_pWrapper->FireOnArrayReceived(array);
        VariantClear(&array);
        break;
    }
    case PX_BUFTYPE_IMAGE: {
        // The host may read the bitmap during the event: the data lock is held as LockDataPtr
        // holds it (unless the host already holds it that way).
        const bool lockedHere = !m_bDataLocked;
        if (lockedHere)
            LockDataPtr();
        uint64_t header = 0, pixels = 0;
        {
            px::CsLock data(m_csData);
            header = reinterpret_cast<uintptr_t>(m_pDIBHeader);
            pixels = reinterpret_cast<uintptr_t>(m_pData);
        }
        m_pWrapper->FireOnImageReceived(header, pixels);
        if (lockedHere)
            UnlockDataPtr();
        break;
    }
    default:
        break;
    }
}

void CPellixControl::OnListMessage()
{
    if (!m_bAgent)
        return;
    BSTR text;
    {
        px::CsLock list(m_csBufferList);
        text = AllocText(m_pBufferListText != nullptr ? m_pBufferListText : "");
    }
    if (text == nullptr)
        return;
    m_pWrapper->FireOnListUpdate(text);
    free(text);
}

bool CPellixControl::AppendListText(const char* text, size_t length)
{
    if (m_pBufferListText == nullptr || m_nBufferListTextLength + length + 1 > m_dwBufferListTextSize) {
        const size_t grow = length > kListTextStep ? length : kListTextStep;
        char* grown = static_cast<char*>(realloc(m_pBufferListText, m_dwBufferListTextSize + grow));
        if (grown == nullptr)
            return false;
        if (m_pBufferListText == nullptr)
            grown[0] = '\0';
        m_pBufferListText = grown;
        m_dwBufferListTextSize += static_cast<uint32_t>(grow);
    }
    memcpy(m_pBufferListText + m_nBufferListTextLength, text, length);
    m_nBufferListTextLength += length;
    m_pBufferListText[m_nBufferListTextLength] = '\0';
    return true;
}

uint32_t CPellixControl::RefreshBufferListText()
{
    // The list stays the library's until the next call on the handle: the list thread and
    // GetBufferList refresh one at a time, under the list lock.
    px::CsLock list(m_csBufferList);
    uint32_t count = 0;
    const PXBufferListEntry* entries = nullptr;
    const uint32_t r = PXGetBufferList(m_hClient, &count, &entries);
    m_dwError = r;
    free(m_pBufferListText);
    m_pBufferListText = static_cast<char*>(malloc(kListTextStep));
    m_dwBufferListTextSize = m_pBufferListText != nullptr ? kListTextStep : 0;
    m_nBufferListTextLength = 0;
    if (m_pBufferListText != nullptr)
        m_pBufferListText[0] = '\0';
    for (uint32_t i = 0; entries != nullptr && i < count; ++i) {
        const PXBufferListEntry& e = entries[i];
        char number[16];
        bool ok = AppendListText(e.processName, strnlen(e.processName, sizeof e.processName)) &&
                  AppendListText(":", 1) && AppendListText(e.text, strnlen(e.text, sizeof e.text)) &&
                  AppendListText(":", 1);
        snprintf(number, sizeof number, "%u:", static_cast<unsigned>(e.port));
        ok = ok && AppendListText(number, strlen(number)) && AppendListText(e.id, strnlen(e.id, sizeof e.id));
        snprintf(number, sizeof number, ":%u;", static_cast<unsigned>(e.type));
        ok = ok && AppendListText(number, strlen(number));
        if (!ok)
            break;
    }
    return r;
}

HRESULT CPellixControl::GetBufferList(BSTR* pVal)
{
    if (pVal == nullptr)
        return S_OK;
    if (!m_bAgent) {
        *pVal = AllocText("");
        return *pVal != nullptr ? S_FALSE : E_OUTOFMEMORY;
    }
    const uint32_t r = RefreshBufferListText();
    {
        px::CsLock list(m_csBufferList);
        *pVal = AllocText(m_pBufferListText != nullptr ? m_pBufferListText : "");
    }
    if (*pVal == nullptr)
        return E_OUTOFMEMORY;
    return r == PX_OK ? S_OK : S_FALSE;
}

// ---- Input ---------------------------------------------------------------------------------------------------

uint32_t CPellixControl::SendInputBytes(const void* bytes, uint32_t size)
{
    if (IsStreamingInput())
        m_dwError = PXSendInput(m_hClient, StreamId(), size, bytes);
    return m_dwError;
}

HRESULT CPellixControl::SendInput(uint32_t input, uint32_t* pVal)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(input), static_cast<uint8_t>(input >> 8),
                              static_cast<uint8_t>(input >> 16), static_cast<uint8_t>(input >> 24)};
    const uint32_t r = SendInputBytes(bytes, 4);
    if (pVal != nullptr)
        *pVal = r;
    return S_OK;
}

HRESULT CPellixControl::SendInputString(const char* input, uint32_t* pVal)
{
    const char* text = input != nullptr ? input : "";
    const uint32_t r = SendInputBytes(text, static_cast<uint32_t>(strlen(text)));
    if (pVal != nullptr)
        *pVal = r;
    return S_OK;
}

HRESULT CPellixControl::SendInputWString(const char* input, uint32_t* pVal)
{
    std::vector<uint8_t> units;
    try {
        units.resize(Utf8ToUtf16(input, nullptr, 0));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    Utf8ToUtf16(input, units.data(), units.size());
    const uint32_t r = SendInputBytes(units.data(), static_cast<uint32_t>(units.size()));
    if (pVal != nullptr)
        *pVal = r;
    return S_OK;
}

HRESULT CPellixControl::SendInputArray(const PXVariant& varray, uint32_t* pVal)
{
    std::vector<uint8_t> packed;
    const uint32_t r = PackArray(varray, &packed) ? SendInputBytes(packed.data(), static_cast<uint32_t>(packed.size()))
                                                  : uint32_t{PX_ERROR};
    if (pVal != nullptr)
        *pVal = r;
    return S_OK;
}

} // namespace pxcontrol
