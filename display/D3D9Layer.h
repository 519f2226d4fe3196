// The graphics interface the Direct3D 9 back-end is written against: a thin layer with the
// objects, calls, values and result codes of Direct3D 9 that the back-end uses, and nothing more.
// Two implementations stand behind it: OpenGL ES 3 through EGL (GlesD3D9.h), which draws, and a
// scripted one in the tests, which answers whatever a test asks for.
//
// Objects work as the originals do: each creating call hands out an object that its receiver
// releases once with Release (which destroys it); a surface taken from a texture or a device
// (GetSurfaceLevel, GetBackBuffer) is an object of its own that must be released too and lives
// no longer than its texture or device. Every call answers a result code (D3D_OK or one of the
// codes below); nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/DisplayWindow.h"
#include "raster/Gdi.h"

namespace display {

using HWND = DisplayWindow*;

namespace d3d9 {

using HRESULT = uint32_t;

constexpr bool FAILED(HRESULT hr) { return (hr & 0x80000000u) != 0; }

enum : HRESULT {
    D3D_OK = 0,
    E_NOTIMPL = 0x80004001,
    E_NOINTERFACE = 0x80004002,
    E_FAIL = 0x80004005,
    E_OUTOFMEMORY = 0x8007000E,
    E_INVALIDARG = 0x80070057,
    D3DERR_OUTOFVIDEOMEMORY = 0x8876017C,
    D3DERR_WASSTILLDRAWING = 0x8876021C,
    D3DERR_WRONGTEXTUREFORMAT = 0x88760818,
    D3DERR_DRIVERINTERNALERROR = 0x88760827,
    D3DERR_NOTFOUND = 0x88760866,
    D3DERR_DEVICELOST = 0x88760868,
    D3DERR_DEVICENOTRESET = 0x88760869,
    D3DERR_NOTAVAILABLE = 0x8876086A,
    D3DERR_INVALIDDEVICE = 0x8876086B,
    D3DERR_INVALIDCALL = 0x8876086C,
};

enum D3DFORMAT : uint32_t {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_X1R5G5B5 = 24,
};

enum : uint32_t { D3DADAPTER_DEFAULT = 0 };
enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1 };
enum D3DRESOURCETYPE : uint32_t { D3DRTYPE_SURFACE = 1, D3DRTYPE_TEXTURE = 3 };
enum D3DPOOL : uint32_t { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1 };
enum : uint32_t { D3DUSAGE_DYNAMIC = 0x200 };
enum : uint32_t { D3D_SDK_VERSION = 32, D3D_SDK_DEBUG = 0x80000000 };

// CreateDevice behaviour flags.
enum : uint32_t {
    D3DCREATE_MULTITHREADED = 0x04,
    D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20,
    D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40,
};

enum D3DSWAPEFFECT : uint32_t { D3DSWAPEFFECT_DISCARD = 1 };
enum : uint32_t { D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 0x1 };

// Only the fields the back-end sets; the back buffer takes the window's client size.
struct D3DPRESENT_PARAMETERS {
    D3DFORMAT BackBufferFormat = D3DFMT_UNKNOWN;
    D3DSWAPEFFECT SwapEffect = D3DSWAPEFFECT_DISCARD;
    int32_t Windowed = 0;
    uint32_t Flags = 0;
};

struct D3DDISPLAYMODE {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t RefreshRate = 0;
    D3DFORMAT Format = D3DFMT_UNKNOWN;
};

// Capability bits read by the probe.
enum : uint32_t {
    D3DPTEXTURECAPS_POW2 = 0x00000002,
    D3DPTEXTURECAPS_SQUAREONLY = 0x00000020,
    D3DPTEXTURECAPS_NONPOW2CONDITIONAL = 0x00000100,
};
enum : uint32_t {
    D3DPBLENDCAPS_SRCALPHA = 0x00000010,
    D3DPBLENDCAPS_INVSRCALPHA = 0x00000020,
};
enum : uint32_t {
    D3DPTFILTERCAPS_MINFPOINT = 0x00000100,
    D3DPTFILTERCAPS_MINFLINEAR = 0x00000200,
    D3DPTFILTERCAPS_MAGFPOINT = 0x01000000,
    D3DPTFILTERCAPS_MAGFLINEAR = 0x02000000,
};

constexpr uint32_t D3DPS_VERSION(uint32_t major, uint32_t minor) { return 0xFFFF0000u | (major << 8) | minor; }

struct D3DCAPS9 {
    uint32_t TextureCaps = 0;
    uint32_t SrcBlendCaps = 0;
    uint32_t DestBlendCaps = 0;
    uint32_t StretchRectFilterCaps = 0;
    uint32_t MaxTextureWidth = 0;
    uint32_t MaxTextureHeight = 0;
    uint32_t PixelShaderVersion = 0;
};

enum D3DRENDERSTATETYPE : uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_SRCBLEND = 19,
    D3DRS_DESTBLEND = 20,
    D3DRS_CULLMODE = 22,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_LIGHTING = 137,
    D3DRS_WRAP0 = 128,
    D3DRS_WRAP1 = 129,
};
enum : uint32_t { D3DCULL_NONE = 1, D3DZB_FALSE = 0 };
enum : uint32_t { D3DBLEND_SRCALPHA = 5, D3DBLEND_INVSRCALPHA = 6 };

enum D3DSAMPLERSTATETYPE : uint32_t { D3DSAMP_ADDRESSU = 1, D3DSAMP_ADDRESSV = 2 };
enum : uint32_t { D3DTADDRESS_CLAMP = 3 };

enum D3DTEXTUREFILTERTYPE : uint32_t { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2 };
enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0 };
enum D3DBACKBUFFER_TYPE : uint32_t { D3DBACKBUFFER_TYPE_MONO = 0 };
enum D3DPRIMITIVETYPE : uint32_t { D3DPT_TRIANGLESTRIP = 5 };

// Flexible vertex formats: a transformed position (x, y, z, 1/w) and one texture coordinate set.
enum : uint32_t { D3DFVF_XYZRHW = 0x004, D3DFVF_TEX1 = 0x100 };

struct D3DLOCKED_RECT {
    int32_t Pitch = 0;
    void* pBits = nullptr;
};

// The overlay quad's vertex, 24 bytes.
struct SQuadVertex {
    float x, y, z, rhw;
    float u, v;
};
static_assert(sizeof(SQuadVertex) == 24, "the quad's vertices are 24 bytes");

// A transparency shader: what the layer's CreatePixelShader compiles. A layer answers one per
// pixel-shader version it has (1 meaning 1.4, 2, 3); its form is the layer's own.
struct SShaderCode {
    const void* pCode = nullptr;
    size_t nSize = 0;
};

class IObject {
public:
    // Gives the object up; it is destroyed.
    virtual HRESULT Release() = 0;

protected:
    virtual ~IObject() = default;
};

class ISurface : public IObject {
public:
    // A raster DC over the surface's pixels (blue, green, red, unused), valid until ReleaseDC.
    virtual HRESULT GetDC(raster::HDC* hdc) = 0;
    virtual HRESULT ReleaseDC(raster::HDC hdc) = 0;
};

class ITexture : public IObject {
public:
    virtual HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, uint32_t flags) = 0;
    virtual HRESULT UnlockRect(uint32_t level) = 0;
    virtual HRESULT GetSurfaceLevel(uint32_t level, ISurface** surface) = 0;
};

class IVertexBuffer : public IObject {
public:
    virtual HRESULT Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
    virtual HRESULT Unlock() = 0;
};

class IPixelShader : public IObject {};

class IDevice : public IObject {
public:
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) = 0;
    virtual HRESULT GetDisplayMode(uint32_t swapChain, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) = 0;
    virtual HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) = 0;
    virtual HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                                  D3DPOOL pool, ITexture** texture) = 0;
    virtual HRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                                       IVertexBuffer** buffer) = 0;
    virtual HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format,
                                       D3DMULTISAMPLE_TYPE multiSample, uint32_t quality, int32_t lockable,
                                       ISurface** surface) = 0;
    virtual HRESULT CreatePixelShader(const SShaderCode& code, IPixelShader** shader) = 0;
    virtual HRESULT SetPixelShader(IPixelShader* shader) = 0;
    virtual HRESULT SetPixelShaderConstantF(uint32_t startRegister, const float* data, uint32_t vectorCount) = 0;
    // Whole surfaces only: the back-end never copies parts.
    virtual HRESULT StretchRect(ISurface* source, ISurface* target, D3DTEXTUREFILTERTYPE filter) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT GetBackBuffer(uint32_t swapChain, uint32_t index, D3DBACKBUFFER_TYPE type, ISurface** surface) = 0;
    virtual HRESULT SetTexture(uint32_t stage, ITexture* texture) = 0;
    virtual HRESULT SetStreamSource(uint32_t stream, IVertexBuffer* buffer, uint32_t offset, uint32_t stride) = 0;
    virtual HRESULT SetFVF(uint32_t fvf) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t startVertex, uint32_t primitiveCount) = 0;
    // Shows the whole back buffer in the device's window.
    virtual HRESULT Present() = 0;
};

class IDirect3D : public IObject {
public:
    virtual HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, uint32_t usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
    virtual HRESULT CheckDeviceType(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                    D3DFORMAT backBufferFormat, int32_t windowed) = 0;
    virtual HRESULT CheckDeviceFormatConversion(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT sourceFormat,
                                                D3DFORMAT targetFormat) = 0;
    virtual HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
    virtual HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE type, HWND focusWindow, uint32_t behaviorFlags,
                                 D3DPRESENT_PARAMETERS* parameters, IDevice** device) = 0;
};

// What the operating system gives around the interface: the driver module, the root object's
// creation, the shader resources and the system questions the back-end asks.
class IDriver {
public:
    virtual ~IDriver() = default;
    // Loads the driver ("d3d9.dll"); false when there is none to use.
    virtual bool LoadDriver() = 0;
    // Direct3DCreate9: null on failure.
    virtual IDirect3D* Direct3DCreate9(uint32_t sdkVersion) = 0;
    // The transparency shader for a pixel-shader major version; false when there is none.
    virtual bool FindShader(uint32_t psVersion, SShaderCode* code) = 0;
    virtual uint32_t OsMajorVersion() = 0;
    virtual bool IsCompositionEnabled() = 0;
};

} // namespace d3d9
} // namespace display
