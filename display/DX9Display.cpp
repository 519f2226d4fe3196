#include "display/DX9Display.h"

#include <cmath>

#include "display/GraphicLog.h"

namespace display {

using namespace d3d9;

namespace {

constexpr SErrorText kD3DErrors[] = {
    {0, "No error"},
    {0x80004001, "Not implemented"},
    {0x80004002, "No object interface available"},
    {0x80004005, "Unknow error"},
    {0x8007000E, "Not enough memory to complet the call"},
    {0x80070057, "Invalid argument"},
    {0x8876017C, "Not enough display memory"},
    {0x8876021C, "Still drawing"},
    {0x88760818, "Pixel format not valid for this texture"},
    {0x88760819, "Device do not support color operation"},
    {0x8876081A, "Device do not support color argument"},
    {0x8876081B, "Device do not support alpha blending operation"},
    {0x8876081C, "Device do not support alpha blending argument"},
    {0x8876081D, "Device cannot use so many filter operation"},
    {0x8876081E, "Conflicting Texture filter"},
    {0x8876081F, "Unsupported texture factor"},
    {0x88760821, "Conflicting render state "},
    {0x88760822, "Device do not support this texture filter"},
    {0x88760826, "Conflicting Texture usage"},
    {0x88760827, "Driver internal error"},
    {0x88760866, "Item not found"},
    {0x88760867, "There is more data then the specified buffer size"},
    {0x88760868, "Device lost"},
    {0x88760869, "Device lost but can be reset"},
    {0x8876086A, "Device do not support this technique"},
    {0x8876086B, "Invalid device type"},
    {0x8876086C, "Invalid call"},
    {0x8876086D, "Driver invalid call"},
    {0x0876086F, "Cannot create automatic mipmap level"},
};

constexpr uint32_t kQuadFvf = D3DFVF_XYZRHW | D3DFVF_TEX1;
constexpr uint32_t kQuadBytes = 4 * sizeof(SQuadVertex);

template <typename T>
void SafeRelease(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

void Error(const char* text) { LogGraphic(LOG_LEVEL_ERROR, text); }

} // namespace

CDX9Display::CDX9Display(std::unique_ptr<IDriver> driver) : m_pDriver(std::move(driver)) {}

CDX9Display::~CDX9Display()
{
    ReleaseAll();
}

void CDX9Display::LogD3DError(const void*, HRESULT hr, const char* tag)
{
    PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "DX9: [%s] %s", tag,
                  ErrorText(kD3DErrors, std::size(kD3DErrors), hr));
}

// ---- probe -------------------------------------------------------------------------------------

int32_t CDX9Display::Validate(uint32_t width, uint32_t height)
{
    if (width == 0 && height == 0)
        return Revalidate();
    return Probe(width, height);
}

int32_t CDX9Display::IsValid()
{
    return Validate(0, 0);
}

int32_t CDX9Display::Probe(uint32_t width, uint32_t height)
{
    px::CsLock lock(m_cs);
    if (!m_pDriver->LoadDriver()) {
        m_dwLastError = 9;
        Error("DX9: No Direct3D driver");
        return 0;
    }
    SafeRelease(m_pD3D);
    m_pD3D = m_pDriver->Direct3DCreate9(D3D_SDK_DEBUG | D3D_SDK_VERSION);
    if (!m_pD3D) {
        m_dwLastError = 3;
        Error("DX9: Cannot Create DD9");
        return 0;
    }
    const int32_t deviceFormat = ValidateDeviceFormat();
    ValidateConvertion(); // a desktop it cannot convert to is no reason to refuse
    const int32_t psVersion = ValidatePSVersion();
    const int32_t textureFormat = ValidateTextureFormat(width, height);
    const int32_t alphaBlending = ValidateAlphaBlending();
    const int32_t interpolation = ValidateStretchInterpolation();
    const int32_t result = deviceFormat && psVersion && textureFormat && alphaBlending && interpolation ? 1 : 0;
    ReleaseAll();
    return result;
}

int32_t CDX9Display::ValidateDeviceFormat()
{
    D3DDISPLAYMODE mode;
    HRESULT hr = m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "ValidateDeviceFormat->GetAdapterDisplayMode");
        return 0;
    }
    if (FAILED(m_pD3D->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, D3DUSAGE_DYNAMIC,
                                         D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8))) {
        m_dwLastError = 23;
        Error("DX9: No alpha blending possible");
        return 0;
    }
    if (FAILED(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, mode.Format, 1))) {
        m_dwLastError = 22;
        Error("DX9: Cannot run in window mode");
        return 0;
    }
    return 1;
}

int32_t CDX9Display::ValidateConvertion()
{
    if (m_pDriver->OsMajorVersion() >= 6) {
        m_bConvertion = 0;
        return 1;
    }
    D3DDISPLAYMODE mode;
    HRESULT hr = m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    if (FAILED(hr)) {
        m_bConvertion = 0;
        LogD3DError(m_pD3D, hr, "ValidateConvertion->GetAdapterDisplayMode");
        return 0;
    }
    if (mode.Format == D3DFMT_X8R8G8B8 || mode.Format == D3DFMT_A8R8G8B8) {
        m_bConvertion = 0;
        LogGraphic(LOG_LEVEL_MSG, "DX9: No convertion needed");
    } else if (FAILED(m_pD3D->CheckDeviceFormatConversion(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                                          mode.Format))) {
        m_bConvertion = 0;
        LogGraphic(LOG_LEVEL_WARN, "DX9: Cannot convert to 32 bit");
    } else if (FAILED(m_pD3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, D3DFMT_X8R8G8B8, 1))) {
        m_bConvertion = 0;
        LogGraphic(LOG_LEVEL_WARN, "DX9: Back buffer cannot be in 32 bit");
    } else {
        m_bConvertion = 1;
        LogGraphic(LOG_LEVEL_MSG, "DX9: Convertion ENABLED");
    }
    return 1;
}

int32_t CDX9Display::ValidatePSVersion()
{
    D3DCAPS9 caps;
    HRESULT hr = m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "ValidatePSVersion->GetDeviceCaps");
        return 0;
    }
    m_dwPSVersion = (caps.PixelShaderVersion >> 8) & 0xFF;
    if (m_dwPSVersion < 2 && (caps.PixelShaderVersion & 0xFFFF) != 0x0104) {
        Error("DX9: No valid pixel shader available ");
        return 0;
    }
    PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_MSG, "DX9: Using pixel shader %d:%d",
                  static_cast<int32_t>(caps.PixelShaderVersion), static_cast<int32_t>(m_dwPSVersion));
    return 1;
}

int32_t CDX9Display::ValidateTextureFormat(uint32_t width, uint32_t height)
{
    D3DCAPS9 caps;
    HRESULT hr = m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "ValidateTextureFormat->GetDeviceCaps");
        return 0;
    }
    m_bPow2Texture = (caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL);
    if (m_bPow2Texture)
        LogGraphic(LOG_LEVEL_WARN, "DX9: Texture need to be POW2");
    m_bSquareTexture = (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : 0;
    if (m_bSquareTexture)
        LogGraphic(LOG_LEVEL_WARN, "DX9: Texture need to be SQUARE");
    AdjustTextureSize(&width, &height);
    if (width < caps.MaxTextureWidth && height < caps.MaxTextureHeight)
        return 1;
    m_dwLastError = 24;
    Error("DX9: Invalid texture size");
    return 0;
}

int32_t CDX9Display::ValidateAlphaBlending()
{
    D3DCAPS9 caps;
    HRESULT hr = m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "ValidateAlphaBlending->GetDeviceCaps");
        return 0;
    }
    if ((caps.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA) && (caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA)) {
        m_bAlphaInverted = 0;
        return 1;
    }
    if ((caps.SrcBlendCaps & D3DPBLENDCAPS_INVSRCALPHA) && (caps.DestBlendCaps & D3DPBLENDCAPS_SRCALPHA)) {
        m_bAlphaInverted = 1;
        LogGraphic(LOG_LEVEL_WARN, "DX9: Alpha INVERTED");
        return 1;
    }
    m_dwLastError = 25;
    Error("DX9: No Alpha blending");
    return 0;
}

int32_t CDX9Display::ValidateStretchInterpolation()
{
    D3DCAPS9 caps;
    const bool known = !FAILED(m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps));
    auto has = [&](uint32_t bits) { return known && (caps.StretchRectFilterCaps & bits) == bits; };
    if (has(D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFLINEAR)) {
        m_dwStretchFilter = D3DTEXF_LINEAR;
        LogGraphic(LOG_LEVEL_MSG, "DX9: Using Linear interpolation");
    } else if (has(D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT)) {
        m_dwStretchFilter = D3DTEXF_POINT;
        LogGraphic(LOG_LEVEL_MSG, "DX9: Using nearest interpolation");
    } else {
        m_dwStretchFilter = D3DTEXF_NONE;
        LogGraphic(LOG_LEVEL_WARN, "DX9: No interpolation");
    }
    return 1;
}

// ---- sizes -------------------------------------------------------------------------------------

void CDX9Display::AdjustTextureSize(uint32_t* width, uint32_t* height) const
{
    auto pow2 = [](double side) { return static_cast<uint32_t>(std::pow(2.0, std::ceil(std::log2(side)))); };
    const double w = *width, h = *height;
    if (m_bSquareTexture && m_bPow2Texture) {
        *width = *height = pow2(std::max(w, h));
    } else if (m_bSquareTexture) {
        *width = *height = static_cast<uint32_t>(std::max(w, h));
    } else if (m_bPow2Texture) {
        *width = pow2(w);
        *height = pow2(h);
    }
}

int32_t CDX9Display::ComputeTextureSize()
{
    uint32_t width = m_dwOverlayWidth, height = m_dwOverlayHeight;
    AdjustTextureSize(&width, &height);
    m_dwTextureWidth = width;
    m_dwTextureHeight = height;
    m_fTexU = static_cast<float>(m_dwOverlayWidth) / static_cast<float>(width);
    m_fTexV = static_cast<float>(m_dwOverlayHeight) / static_cast<float>(height);
    return 1;
}

// ---- creation ----------------------------------------------------------------------------------

void CDX9Display::InitDD(HWND hWnd)
{
    px::CsLock lock(m_cs);
    SafeRelease(m_pD3D);
    m_pD3D = m_pDriver->Direct3DCreate9(D3D_SDK_DEBUG | D3D_SDK_VERSION);
    if (!m_pD3D) {
        m_dwLastError = 3;
        Error("DX9: Cannot Create DD9");
    }
    m_hWnd = hWnd;
}

void CDX9Display::InitSurfaces(int32_t overlayWidth, int32_t overlayHeight, int32_t videoWidth, int32_t videoHeight)
{
    if (!m_pD3D) {
        Error("DX9: InitSurfaces NULL D3D object");
        return;
    }
    m_dwOverlayWidth = static_cast<uint32_t>(overlayWidth);
    m_dwOverlayHeight = static_cast<uint32_t>(overlayHeight);
    m_dwVideoWidth = static_cast<uint32_t>(videoWidth);
    m_dwVideoHeight = static_cast<uint32_t>(videoHeight);
    if (overlayWidth == 0 || overlayHeight == 0 || videoWidth == 0 || videoHeight == 0) {
        m_dwLastError = 10;
        Error("DX9: Invalid surface size");
        return;
    }
    m_bIntermediate = overlayWidth != videoWidth || overlayHeight != videoHeight;
    if (CreateSurfaceSet())
        PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_MSG, "DX9: Surfaces created Overlay(%d %d) Video(%d %d)",
                      overlayWidth, overlayHeight, videoWidth, videoHeight);
}

bool CDX9Display::CreateSurfaceSet()
{
    int32_t device, simple, video, shader, intermediate = 1;
    {
        px::CsLock lock(m_cs);
        ComputeTextureSize();
        device = CreateDevice();
        simple = CreateSimpleSurface();
        video = CreateVideoSurface();
        shader = CreatePixelShader();
        if (m_bIntermediate)
            intermediate = CreateIntermediateSurface();
        else
            SafeRelease(m_pIntermediateSurface);
    }
    const SCreation steps[] = {
        {device, 4, "DX9: Cannot create device"},
        {shader, 8, "DX9: Cannot create pixel shader"},
        {simple, 5, "DX9: Cannot create overlay surface"},
        {video, 6, "DX9: Cannot create video surface"},
        {intermediate, 7, "DX9: Cannot create intermediate surface"},
    };
    return ReportFirstFailure(steps, "", &m_dwLastError);
}

void CDX9Display::BuildPresentParameters(const D3DDISPLAYMODE& mode, D3DPRESENT_PARAMETERS* parameters)
{
    *parameters = D3DPRESENT_PARAMETERS{};
    parameters->Windowed = 1;
    parameters->SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters->Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    m_bComposition = m_pDriver->IsCompositionEnabled() ? 1 : 0;
    if (mode.Format == D3DFMT_X8R8G8B8 && !m_bComposition)
        parameters->BackBufferFormat = D3DFMT_R5G6B5;
    else
        parameters->BackBufferFormat = m_bConvertion ? D3DFMT_X8R8G8B8 : D3DFMT_UNKNOWN;
}

int32_t CDX9Display::CreateDevice()
{
    SafeRelease(m_pD3DDevice);
    if (!m_pD3D)
        return 0;
    D3DDISPLAYMODE mode;
    HRESULT hr = m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "CreateDevice->GetAdapterDisplayMode");
        return 0;
    }
    D3DPRESENT_PARAMETERS parameters;
    BuildPresentParameters(mode, &parameters);
    hr = m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m_hWnd,
                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED, &parameters, &m_pD3DDevice);
    if (FAILED(hr)) {
        LogGraphic(LOG_LEVEL_WARN, "DX9: Cannot create hardware vertex processing device! Try Software.");
        hr = m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, m_hWnd,
                                  D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED, &parameters,
                                  &m_pD3DDevice);
        if (FAILED(hr)) {
            m_pD3DDevice = nullptr;
            m_dwLastError = 4;
            LogD3DError(m_pD3D, hr, "CreateDevice->CreateDevice");
            return 0;
        }
    }
    struct SState {
        D3DRENDERSTATETYPE state;
        uint32_t value;
        const char* tag;
    };
    const SState states[] = {
        {D3DRS_CULLMODE, D3DCULL_NONE, "CreateDevice->SetRenderState(D3DRS_CULLMODE)"},
        {D3DRS_ZENABLE, D3DZB_FALSE, "CreateDevice->SetRenderState(D3DRS_ZENABLE)"},
        {D3DRS_LIGHTING, 0, "CreateDevice->SetRenderState(D3DRS_LIGHTING)"},
        {D3DRS_ALPHABLENDENABLE, 1, "CreateDevice->SetRenderState(D3DRS_ALPHABLENDENABLE)"},
        {D3DRS_SRCBLEND, m_bAlphaInverted ? uint32_t{D3DBLEND_INVSRCALPHA} : uint32_t{D3DBLEND_SRCALPHA},
         "CreateDevice->SetRenderState(D3DRS_SRCBLEND)"},
        {D3DRS_DESTBLEND, m_bAlphaInverted ? uint32_t{D3DBLEND_SRCALPHA} : uint32_t{D3DBLEND_INVSRCALPHA},
         "CreateDevice->SetRenderState(D3DRS_DESTBLEND)"},
    };
    for (const SState& s : states) {
        hr = m_pD3DDevice->SetRenderState(s.state, s.value);
        if (FAILED(hr))
            LogD3DError(m_pD3DDevice, hr, s.tag);
    }
    return 1;
}

int32_t CDX9Display::CreateSimpleSurface()
{
    if (!m_pD3DDevice) {
        ReleaseAll();
        Error("DX9: CreateSimpleSurface NULL device");
        return 0;
    }
    SafeRelease(m_pDDTSimple);
    SafeRelease(m_pVertexBuffer);
    SafeRelease(m_pDDTColorKey);
    HRESULT hr = m_pD3DDevice->CreateTexture(m_dwTextureWidth, m_dwTextureHeight, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8,
                                             D3DPOOL_DEFAULT, &m_pDDTSimple);
    if (FAILED(hr)) {
        m_pDDTSimple = nullptr;
        ReleaseAll();
        m_dwLastError = 5;
        LogD3DError(m_pD3DDevice, hr, "CreateSimpleSurface->CreateTexture(m_pDDTSimple)");
        return 0;
    }
    hr = m_pD3DDevice->CreateVertexBuffer(kQuadBytes, 0, kQuadFvf, D3DPOOL_MANAGED, &m_pVertexBuffer);
    if (FAILED(hr)) {
        m_pVertexBuffer = nullptr;
        ReleaseAll();
        m_dwLastError = 17;
        LogD3DError(m_pD3DDevice, hr, "CreateSimpleSurface->CreateVertexBuffer");
        return 0;
    }
    void* data = nullptr;
    hr = m_pVertexBuffer->Lock(0, 0, &data, 0);
    if (FAILED(hr)) {
        ReleaseAll();
        m_dwLastError = 18;
        LogD3DError(m_pVertexBuffer, hr, "CreateSimpleSurface->Lock");
        return 0;
    }
    const float w = static_cast<float>(m_dwOverlayWidth), h = static_cast<float>(m_dwOverlayHeight);
    const SQuadVertex quad[4] = {
        {-0.5f, -0.5f, 0.0f, 1.0f, 0.0f, 0.0f},
        {w - 0.5f, -0.5f, 0.0f, 1.0f, m_fTexU, 0.0f},
        {-0.5f, h - 0.5f, 0.0f, 1.0f, 0.0f, m_fTexV},
        {w - 0.5f, h - 0.5f, 0.0f, 1.0f, m_fTexU, m_fTexV},
    };
    memcpy(data, quad, sizeof quad);
    hr = m_pVertexBuffer->Unlock();
    if (FAILED(hr))
        LogD3DError(m_pVertexBuffer, hr, "CreateSimpleSurface->Unlock");
    hr = m_pD3DDevice->CreateTexture(1, 1, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &m_pDDTColorKey);
    if (FAILED(hr)) {
        m_pDDTColorKey = nullptr;
        ReleaseAll();
        m_dwLastError = 19;
        LogD3DError(m_pD3DDevice, hr, "CreateSimpleSurface->CreateTexture(m_pDDTColorKey)");
        return 0;
    }
    for (uint32_t stage = 0; stage < 2; ++stage) {
        const D3DRENDERSTATETYPE wrap = stage == 0 ? D3DRS_WRAP0 : D3DRS_WRAP1;
        hr = m_pD3DDevice->SetRenderState(wrap, 0);
        if (FAILED(hr))
            LogD3DError(m_pD3DDevice, hr,
                        stage == 0 ? "CreateSimpleSurface->SetRenderState(D3DRS_WRAP0)"
                                   : "CreateSimpleSurface->SetRenderState(D3DRS_WRAP1)");
        hr = m_pD3DDevice->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        if (FAILED(hr))
            LogD3DError(m_pD3DDevice, hr, "CreateSimpleSurface->SetSamplerState(D3DSAMP_ADDRESSU)");
        hr = m_pD3DDevice->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        if (FAILED(hr))
            LogD3DError(m_pD3DDevice, hr, "CreateSimpleSurface->SetSamplerState(D3DSAMP_ADDRESSV)");
    }
    SetTransparentColor(m_crTransparent);
    ClearOverlay();
    return 1;
}

int32_t CDX9Display::CreateRenderTarget(uint32_t width, uint32_t height, ISurface** surface, const char* nullDevice,
                                        uint32_t errorCode, const char* tag)
{
    if (!m_pD3DDevice) {
        Error(nullDevice);
        return 0;
    }
    SafeRelease(*surface);
    D3DDISPLAYMODE mode;
    HRESULT hr = m_pD3DDevice->GetDisplayMode(0, &mode);
    if (FAILED(hr)) {
        LogD3DError(m_pD3DDevice, hr, "CreateVideoSurface->GetDisplayMode");
        return 0;
    }
    hr = m_pD3DDevice->CreateRenderTarget(width, height, m_bConvertion ? D3DFMT_X8R8G8B8 : mode.Format,
                                          D3DMULTISAMPLE_NONE, 0, 1, surface);
    if (FAILED(hr)) {
        *surface = nullptr;
        ReleaseAll();
        m_dwLastError = errorCode;
        LogD3DError(m_pD3DDevice, hr, tag);
        return 0;
    }
    return 1;
}

int32_t CDX9Display::CreateVideoSurface()
{
    return CreateRenderTarget(m_dwVideoWidth, m_dwVideoHeight, &m_pVideoSurface, "DX9: CreateVideoSurface NULL device",
                              6, "CreateVideoSurface->CreateRenderTarget");
}

int32_t CDX9Display::CreateIntermediateSurface()
{
    return CreateRenderTarget(m_dwOverlayWidth, m_dwOverlayHeight, &m_pIntermediateSurface,
                              "DX9: CreateIntermediateSurface NULL device", 7,
                              "CreateVideoSurface->CreateIntermediateSurface");
}

int32_t CDX9Display::CreatePixelShader()
{
    if (!m_pD3DDevice) {
        Error("DX9: CreatePixelShader NULL Device");
        return 0;
    }
    SafeRelease(m_pPixelShader);
    SShaderCode code;
    if (!m_pDriver->FindShader(m_dwPSVersion, &code)) {
        ReleaseAll();
        m_dwLastError = 20;
        PX_LOG_FORMAT(LOG_SECTION_GRAPHIC, LOG_LEVEL_ERROR, "DX9: Cannot get pixel shader code %d",
                      static_cast<int32_t>(m_dwPSVersion));
        return 0;
    }
    m_pShaderCode = code.pCode;
    HRESULT hr = m_pD3DDevice->CreatePixelShader(code, &m_pPixelShader);
    if (FAILED(hr)) {
        m_pPixelShader = nullptr;
        ReleaseAll();
        m_dwLastError = 8;
        LogD3DError(m_pD3DDevice, hr, "CreatePixelShader->CreatePixelShader");
        return 0;
    }
    hr = m_pD3DDevice->SetPixelShader(m_pPixelShader);
    if (FAILED(hr)) {
        ReleaseAll();
        m_dwLastError = 21;
        LogD3DError(m_pD3DDevice, hr, "CreatePixelShader->SetPixelShader");
        return 0;
    }
    // Alpha for an exact match with the key (c0) and for every other texel (c1).
    const float matched[4] = {0, 0, 0, m_bAlphaInverted ? 1.0f : 0.0f};
    const float other[4] = {1, 1, 1, m_bAlphaInverted ? 0.0f : 1.0f};
    hr = m_pD3DDevice->SetPixelShaderConstantF(0, matched, 1);
    if (FAILED(hr))
        LogD3DError(m_pD3DDevice, hr, "CreatePixelShader->SetPixelShaderConstantF(0)");
    hr = m_pD3DDevice->SetPixelShaderConstantF(1, other, 1);
    if (FAILED(hr))
        LogD3DError(m_pD3DDevice, hr, "CreatePixelShader->SetPixelShaderConstantF(1)");
    return 1;
}

// ---- revalidation ------------------------------------------------------------------------------

int32_t CDX9Display::Revalidate()
{
    px::CsLock lock(m_cs);
    if (!m_pD3DDevice || !m_pD3D) {
        Error("DX9: Validate NULL pointer");
        return 0;
    }
    HRESULT hr = m_pD3DDevice->TestCooperativeLevel();
    if (hr == D3DERR_DEVICELOST)
        return 0;
    const uint32_t composition = m_pDriver->IsCompositionEnabled() ? 1 : 0;
    if (hr != D3DERR_DEVICENOTRESET && composition == m_bComposition) {
        if (FAILED(hr)) {
            LogD3DError(m_pD3DDevice, hr, "Validate->TestCooperativeLevel");
            return 0;
        }
        if (m_pVideoSurface && m_pDDTSimple && (!m_bIntermediate || m_pIntermediateSurface))
            return 1;
        Error("DX9: Validate NULL pointer");
        return 0;
    }
    D3DDISPLAYMODE mode;
    hr = m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    if (FAILED(hr)) {
        LogD3DError(m_pD3D, hr, "Validate->GetAdapterDisplayMode");
        return 0;
    }
    D3DPRESENT_PARAMETERS parameters;
    BuildPresentParameters(mode, &parameters);
    ReleaseSurfaces();
    hr = m_pD3DDevice->Reset(&parameters);
    if (FAILED(hr)) {
        LogD3DError(m_pD3DDevice, hr, "Validate->Reset");
        return 0;
    }
    if (!CreateSurfaceSet())
        return 0;
    LogGraphic(LOG_LEVEL_WARN, "DX9: Need to redraw overlay");
    return 10;
}

// ---- device contexts ---------------------------------------------------------------------------

void CDX9Display::GetVideoDC(HDC* hdc)
{
    m_cs.Enter();
    if (!m_pVideoSurface) {
        *hdc = nullptr;
        Error("DX9: GetVideoDC NULL surface");
        return;
    }
    HRESULT hr = m_pVideoSurface->GetDC(hdc);
    if (FAILED(hr)) {
        *hdc = nullptr;
        LogD3DError(m_pVideoSurface, hr, "GetVideoDC->GetDC");
    }
}

void CDX9Display::ReleaseVideoDC(HDC hdc)
{
    if (!m_pVideoSurface) {
        Error("DX9: ReleaseVideoDC NULL surface");
    } else {
        HRESULT hr = m_pVideoSurface->ReleaseDC(hdc);
        if (FAILED(hr))
            LogD3DError(m_pVideoSurface, hr, "ReleaseVideoDC->ReleaseDC");
    }
    m_cs.Leave();
}

void CDX9Display::GetIntermediateDC(HDC* hdc)
{
    if (!m_bIntermediate) {
        m_bIntermediateDC = 0;
        GetVideoDC(hdc);
        return;
    }
    m_bIntermediateDC = 1;
    if (!m_pIntermediateSurface) {
        *hdc = nullptr;
        Error("DX9: GetIntermediateDC NULL surface");
        return;
    }
    HRESULT hr = m_pIntermediateSurface->GetDC(hdc);
    if (FAILED(hr)) {
        *hdc = nullptr;
        LogD3DError(m_pIntermediateSurface, hr, "GetIntermediateDC->GetDC");
    }
}

void CDX9Display::ReleaseIntermediateDC(HDC hdc)
{
    if (!m_bIntermediate) {
        if (!m_bIntermediateDC)
            ReleaseVideoDC(hdc);
        return;
    }
    if (!m_bIntermediateDC) {
        // The DC came from the video surface before the sizes changed: only its lock is left.
        m_cs.Leave();
        return;
    }
    if (!m_pIntermediateSurface) {
        Error("DX9: ReleaseIntermediateDC NULL surface");
        return;
    }
    HRESULT hr = m_pIntermediateSurface->ReleaseDC(hdc);
    if (FAILED(hr))
        LogD3DError(m_pIntermediateSurface, hr, "ReleaseIntermediateDC->ReleaseDC");
}

void CDX9Display::GetOverlayDC(HDC* hdc)
{
    if (!m_pDDTSimple) {
        *hdc = nullptr;
        Error("DX9: GetOverlayDC NULL surface");
        return;
    }
    SafeRelease(m_pOverlayLevel);
    HRESULT hr = m_pDDTSimple->GetSurfaceLevel(0, &m_pOverlayLevel);
    if (FAILED(hr)) {
        m_pOverlayLevel = nullptr;
        *hdc = nullptr;
        LogD3DError(m_pDDTSimple, hr, "GetOverlayDC->GetSurfaceLevel");
        return;
    }
    hr = m_pOverlayLevel->GetDC(hdc);
    if (FAILED(hr)) {
        *hdc = nullptr;
        LogD3DError(m_pOverlayLevel, hr, "GetOverlayDC->GetDC");
    }
}

void CDX9Display::ReleaseOverlayDC(HDC hdc)
{
    if (!m_pOverlayLevel) {
        Error("DX9: ReleaseOverlayDC NULL surface");
        return;
    }
    HRESULT hr = m_pOverlayLevel->ReleaseDC(hdc);
    if (FAILED(hr))
        LogD3DError(m_pOverlayLevel, hr, "ReleaseOverlayDC->ReleaseDC");
    hr = m_pOverlayLevel->Release();
    if (FAILED(hr))
        LogD3DError(m_pOverlayLevel, hr, "ReleaseOverlayDC->Release");
    m_pOverlayLevel = nullptr;
}

// ---- drawing -----------------------------------------------------------------------------------

void CDX9Display::PresentVideo()
{
    if (!m_bIntermediate)
        return;
    if (!m_pD3DDevice || !m_pVideoSurface || !m_pIntermediateSurface) {
        Error("DX9: PresentVideo NULL surface");
        return;
    }
    px::CsLock lock(m_cs);
    HRESULT hr = m_pD3DDevice->StretchRect(m_pVideoSurface, m_pIntermediateSurface,
                                           static_cast<D3DTEXTUREFILTERTYPE>(m_dwStretchFilter));
    if (FAILED(hr))
        LogD3DError(m_pD3DDevice, hr, "PresentVideo->StretchRect");
}

void CDX9Display::ClearOverlay()
{
    if (!m_pDDTSimple) {
        Error("DX9: ClearOverlay NULL surface");
        return;
    }
    D3DLOCKED_RECT locked;
    HRESULT hr = m_pDDTSimple->LockRect(0, &locked, 0);
    if (FAILED(hr)) {
        m_dwLastError = 11;
        LogD3DError(m_pDDTSimple, hr, "ClearOverlay->LockRect");
        return;
    }
    for (uint32_t y = 0; y < m_dwTextureHeight; ++y) {
        uint32_t* row = static_cast<uint32_t*>(locked.pBits) + static_cast<size_t>(locked.Pitch / 4) * y;
        for (uint32_t x = 0; x < m_dwTextureWidth; ++x)
            row[x] = m_crTransparent;
    }
    hr = m_pDDTSimple->UnlockRect(0);
    if (FAILED(hr))
        LogD3DError(m_pDDTSimple, hr, "ClearOverlay->UnlockRect");
}

void CDX9Display::SetTransparentColor(COLORREF color)
{
    m_crTransparent = color;
    if (!m_pDDTColorKey) {
        Error("DX9: SetTransparentColor NULL surface");
        return;
    }
    D3DLOCKED_RECT locked;
    HRESULT hr = m_pDDTColorKey->LockRect(0, &locked, 0);
    if (FAILED(hr)) {
        m_dwLastError = 16;
        LogD3DError(m_pDDTColorKey, hr, "SetTransparentColor->LockRect");
        return;
    }
    // The COLORREF bits as they are: read as X8R8G8B8 its red byte is the texel's blue.
    *static_cast<uint32_t*>(locked.pBits) = color;
    hr = m_pDDTColorKey->UnlockRect(0);
    if (FAILED(hr))
        LogD3DError(m_pDDTColorKey, hr, "SetTransparentColor->UnlockRect");
}

void CDX9Display::Present(int32_t withOverlay)
{
    if (!m_pD3DDevice || !m_pDDTSimple || !m_pVertexBuffer || (m_bIntermediate && !m_pIntermediateSurface)) {
        Error("DX9: Present NULL surface");
        return;
    }
    HRESULT hr = m_pD3DDevice->BeginScene();
    if (FAILED(hr)) {
        LogD3DError(m_pD3DDevice, hr, "Present->BeginScene");
        return;
    }
    ISurface* backBuffer = nullptr;
    hr = m_pD3DDevice->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    if (FAILED(hr)) {
        m_dwLastError = 12;
        LogD3DError(m_pD3DDevice, hr, "Present->GetBackBuffer");
    } else {
        px::CsLock lock(m_cs);
        hr = m_pD3DDevice->StretchRect(m_bIntermediate ? m_pIntermediateSurface : m_pVideoSurface, backBuffer,
                                       static_cast<D3DTEXTUREFILTERTYPE>(m_dwStretchFilter));
        if (FAILED(hr))
            LogD3DError(m_pD3DDevice, hr, "Present->StretchRect");
        hr = backBuffer->Release();
        if (FAILED(hr))
            LogD3DError(backBuffer, hr, "Present->Release");
    }
    // The overlay's steps stop at the first that fails, which sets its code.
    auto step = [&](HRESULT result, uint32_t code, const char* tag) {
        if (!FAILED(result))
            return true;
        m_dwLastError = code;
        LogD3DError(m_pD3DDevice, result, tag);
        return false;
    };
    if (withOverlay) {
        step(m_pD3DDevice->SetTexture(0, m_pDDTSimple), 13, "Present->SetTexture(0)") &&
            step(m_pD3DDevice->SetTexture(1, m_pDDTColorKey), 14, "Present->SetTexture(1)") &&
            step(m_pD3DDevice->SetStreamSource(0, m_pVertexBuffer, 0, sizeof(SQuadVertex)), 14,
                 "Present->SetStreamSource") &&
            step(m_pD3DDevice->SetFVF(kQuadFvf), 14, "Present->SetFVF") &&
            step(m_pD3DDevice->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), 15, "Present->DrawPrimitive");
    }
    hr = m_pD3DDevice->EndScene();
    if (FAILED(hr))
        LogD3DError(m_pD3DDevice, hr, "Present->EndScene");
    hr = m_pD3DDevice->Present();
    if (FAILED(hr))
        LogD3DError(m_pD3DDevice, hr, "Present->Present");
}

// ---- release -----------------------------------------------------------------------------------

void CDX9Display::ReleaseSurfaces()
{
    px::CsLock lock(m_cs);
    SafeRelease(m_pOverlayLevel); // a level surface lives no longer than its texture
    SafeRelease(m_pVideoSurface);
    SafeRelease(m_pIntermediateSurface);
    SafeRelease(m_pDDTSimple);
    SafeRelease(m_pDDTColorKey);
    SafeRelease(m_pVertexBuffer);
    SafeRelease(m_pPixelShader);
    m_pShaderCode = nullptr;
}

void CDX9Display::ReleaseAll()
{
    px::CsLock lock(m_cs);
    ReleaseSurfaces();
    SafeRelease(m_pD3DDevice);
    SafeRelease(m_pD3D);
    m_hWnd = nullptr;
    m_dwOverlayWidth = 0;
    m_dwOverlayHeight = 0;
    m_crTransparent = 0x00FF00FF;
}

} // namespace display
