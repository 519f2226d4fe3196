#include "ScriptedD3D9.h"

#include <cstring>

#include "raster/Gdi.h"

namespace displaytest {

using namespace display::d3d9;
using display::HWND;

uint32_t SD3D9Memory::Texel(uint32_t x, uint32_t y) const
{
    uint32_t texel;
    memcpy(&texel, bytes.data() + static_cast<size_t>(y) * pitch + x * 4, 4);
    return texel;
}

SD3D9World::SD3D9World()
{
    caps.TextureCaps = 0;
    caps.SrcBlendCaps = D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
    caps.DestBlendCaps = D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
    caps.StretchRectFilterCaps =
        D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT;
    caps.MaxTextureWidth = 4096;
    caps.MaxTextureHeight = 4096;
    caps.PixelShaderVersion = D3DPS_VERSION(3, 0);
}

std::vector<std::string> SD3D9World::Names(size_t from) const
{
    std::vector<std::string> names;
    for (size_t i = from; i < calls.size(); ++i)
        names.push_back(calls[i].substr(0, calls[i].find('(')));
    return names;
}

namespace {

using World = std::shared_ptr<SD3D9World>;

std::string Args(std::initializer_list<uint32_t> values)
{
    std::string text;
    for (uint32_t v : values)
        text += (text.empty() ? "" : ",") + std::to_string(v);
    return text;
}

// Counts itself among the live objects of the world.
template <typename Interface>
class CObject : public Interface {
public:
    explicit CObject(World world, std::string kind) : m_world(std::move(world)), m_kind(std::move(kind))
    {
        ++m_world->nLive;
    }
    HRESULT Release() override
    {
        const HRESULT hr = m_world->Call("Release", m_kind);
        --m_world->nLive;
        delete this;
        return hr;
    }

protected:
    ~CObject() override = default;
    World m_world;
    std::string m_kind;
};

std::shared_ptr<SD3D9Memory> MakeMemory(uint32_t width, uint32_t height, uint32_t padding)
{
    auto memory = std::make_shared<SD3D9Memory>();
    memory->width = width;
    memory->height = height;
    memory->pitch = static_cast<int32_t>((width + padding) * 4);
    memory->bytes.assign(static_cast<size_t>(memory->pitch) * height, 0xAB);
    return memory;
}

class CSurface final : public CObject<ISurface> {
public:
    CSurface(World world, std::string kind, std::shared_ptr<SD3D9Memory> memory)
        : CObject(std::move(world), std::move(kind)), m_memory(std::move(memory))
    {
    }
    HRESULT GetDC(raster::HDC* hdc) override
    {
        const HRESULT hr = m_world->Call("GetDC", m_kind);
        if (FAILED(hr))
            return hr;
        *hdc = raster::CreateSurfaceDC(m_memory->bytes.data(), static_cast<int32_t>(m_memory->width),
                                       static_cast<int32_t>(m_memory->height), m_memory->pitch);
        return D3D_OK;
    }
    HRESULT ReleaseDC(raster::HDC hdc) override
    {
        raster::DeleteDC(hdc);
        return m_world->Call("ReleaseDC", m_kind);
    }

private:
    std::shared_ptr<SD3D9Memory> m_memory;
};

class CTexture final : public CObject<ITexture> {
public:
    CTexture(World world, std::shared_ptr<SD3D9Memory> memory)
        : CObject(std::move(world), "texture"), m_memory(std::move(memory))
    {
    }
    HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, uint32_t) override
    {
        const HRESULT hr = m_world->Call("LockRect", Args({m_memory->width, m_memory->height, level}));
        if (!FAILED(hr)) {
            locked->pBits = m_memory->bytes.data();
            locked->Pitch = m_memory->pitch;
        }
        return hr;
    }
    HRESULT UnlockRect(uint32_t level) override
    {
        return m_world->Call("UnlockRect", Args({m_memory->width, m_memory->height, level}));
    }
    HRESULT GetSurfaceLevel(uint32_t level, ISurface** surface) override
    {
        const HRESULT hr = m_world->Call("GetSurfaceLevel", Args({level}));
        if (!FAILED(hr))
            *surface = new CSurface(m_world, "level", m_memory);
        return hr;
    }

private:
    std::shared_ptr<SD3D9Memory> m_memory;
};

class CVertexBuffer final : public CObject<IVertexBuffer> {
public:
    CVertexBuffer(World world, uint32_t length) : CObject(std::move(world), "vertices"), m_bytes(length, 0xCD) {}
    HRESULT Lock(uint32_t offset, uint32_t, void** data, uint32_t) override
    {
        const HRESULT hr = m_world->Call("Lock");
        if (!FAILED(hr))
            *data = m_bytes.data() + offset;
        return hr;
    }
    HRESULT Unlock() override
    {
        m_world->vertices = m_bytes;
        return m_world->Call("Unlock");
    }

private:
    std::vector<uint8_t> m_bytes;
};

class CPixelShader final : public CObject<IPixelShader> {
public:
    explicit CPixelShader(World world) : CObject(std::move(world), "shader") {}
};

class CDevice final : public CObject<IDevice> {
public:
    explicit CDevice(World world) : CObject(std::move(world), "device") {}

    HRESULT TestCooperativeLevel() override
    {
        HRESULT hr = m_world->Call("TestCooperativeLevel");
        if (!m_world->cooperative.empty()) {
            hr = m_world->cooperative.front();
            m_world->cooperative.pop_front();
        }
        return hr;
    }
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override
    {
        m_world->lastParameters = *parameters;
        return m_world->Call("Reset", Args({parameters->BackBufferFormat}));
    }
    HRESULT GetDisplayMode(uint32_t, D3DDISPLAYMODE* mode) override
    {
        mode->Format = m_world->displayFormat;
        return m_world->Call("GetDisplayMode");
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) override
    {
        m_world->renderStates[state] = value;
        return m_world->Call("SetRenderState", Args({state, value}));
    }
    HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value) override
    {
        return m_world->Call("SetSamplerState", Args({sampler, type, value}));
    }
    HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                          D3DPOOL pool, ITexture** texture) override
    {
        const HRESULT hr = m_world->Call("CreateTexture", Args({width, height, levels, usage, format, pool}));
        if (!FAILED(hr)) {
            auto memory = MakeMemory(width, height, 3);
            m_world->textures.push_back(memory);
            *texture = new CTexture(m_world, memory);
        }
        return hr;
    }
    HRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                               IVertexBuffer** buffer) override
    {
        const HRESULT hr = m_world->Call("CreateVertexBuffer", Args({length, usage, fvf, pool}));
        if (!FAILED(hr))
            *buffer = new CVertexBuffer(m_world, length);
        return hr;
    }
    HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format, D3DMULTISAMPLE_TYPE, uint32_t,
                               int32_t lockable, ISurface** surface) override
    {
        const HRESULT hr = m_world->Call("CreateRenderTarget", Args({width, height, format, uint32_t(lockable)}));
        if (!FAILED(hr))
            *surface = new CSurface(m_world, "target", MakeMemory(width, height, 0));
        return hr;
    }
    HRESULT CreatePixelShader(const SShaderCode& code, IPixelShader** shader) override
    {
        const HRESULT hr = m_world->Call("CreatePixelShader", static_cast<const char*>(code.pCode));
        if (!FAILED(hr))
            *shader = new CPixelShader(m_world);
        return hr;
    }
    HRESULT SetPixelShader(IPixelShader*) override { return m_world->Call("SetPixelShader"); }
    HRESULT SetPixelShaderConstantF(uint32_t startRegister, const float* data, uint32_t count) override
    {
        if (startRegister < 2 && count == 1)
            memcpy(m_world->aConstants[startRegister], data, sizeof m_world->aConstants[0]);
        return m_world->Call("SetPixelShaderConstantF", Args({startRegister, count}));
    }
    HRESULT StretchRect(ISurface*, ISurface*, D3DTEXTUREFILTERTYPE filter) override
    {
        return m_world->Call("StretchRect", Args({filter}));
    }
    HRESULT BeginScene() override { return m_world->Call("BeginScene"); }
    HRESULT EndScene() override { return m_world->Call("EndScene"); }
    HRESULT GetBackBuffer(uint32_t, uint32_t, D3DBACKBUFFER_TYPE, ISurface** surface) override
    {
        const HRESULT hr = m_world->Call("GetBackBuffer");
        if (!FAILED(hr))
            *surface = new CSurface(m_world, "backbuffer", MakeMemory(1, 1, 0));
        return hr;
    }
    HRESULT SetTexture(uint32_t stage, ITexture*) override { return m_world->Call("SetTexture", Args({stage})); }
    HRESULT SetStreamSource(uint32_t stream, IVertexBuffer*, uint32_t offset, uint32_t stride) override
    {
        return m_world->Call("SetStreamSource", Args({stream, offset, stride}));
    }
    HRESULT SetFVF(uint32_t fvf) override { return m_world->Call("SetFVF", Args({fvf})); }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t start, uint32_t count) override
    {
        return m_world->Call("DrawPrimitive", Args({type, start, count}));
    }
    HRESULT Present() override { return m_world->Call("Present"); }
};

class CDirect3D final : public CObject<IDirect3D> {
public:
    explicit CDirect3D(World world) : CObject(std::move(world), "root") {}

    HRESULT GetAdapterDisplayMode(uint32_t, D3DDISPLAYMODE* mode) override
    {
        mode->Format = m_world->displayFormat;
        return m_world->Call("GetAdapterDisplayMode");
    }
    HRESULT CheckDeviceFormat(uint32_t, D3DDEVTYPE, D3DFORMAT adapterFormat, uint32_t usage, D3DRESOURCETYPE type,
                              D3DFORMAT checkFormat) override
    {
        return m_world->Call("CheckDeviceFormat", Args({adapterFormat, usage, type, checkFormat}));
    }
    HRESULT CheckDeviceType(uint32_t, D3DDEVTYPE, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                            int32_t windowed) override
    {
        return m_world->Call("CheckDeviceType", Args({displayFormat, backBufferFormat, uint32_t(windowed)}));
    }
    HRESULT CheckDeviceFormatConversion(uint32_t, D3DDEVTYPE, D3DFORMAT source, D3DFORMAT target) override
    {
        return m_world->Call("CheckDeviceFormatConversion", Args({source, target}));
    }
    HRESULT GetDeviceCaps(uint32_t, D3DDEVTYPE, D3DCAPS9* caps) override
    {
        *caps = m_world->caps;
        return m_world->Call("GetDeviceCaps");
    }
    HRESULT CreateDevice(uint32_t, D3DDEVTYPE, HWND, uint32_t behavior, D3DPRESENT_PARAMETERS* parameters,
                         IDevice** device) override
    {
        m_world->lastParameters = *parameters;
        m_world->dwLastBehavior = behavior;
        const HRESULT hr = m_world->Call("CreateDevice", Args({behavior, parameters->BackBufferFormat}));
        if (!FAILED(hr))
            *device = new CDevice(m_world);
        return hr;
    }
};

class CDriver final : public IDriver {
public:
    explicit CDriver(World world) : m_world(std::move(world)) {}
    bool LoadDriver() override
    {
        m_world->Call("LoadDriver");
        return m_world->bLoadDriver;
    }
    IDirect3D* Direct3DCreate9(uint32_t version) override
    {
        m_world->Call("Direct3DCreate9", Args({version}));
        return m_world->bCreateRoot ? new CDirect3D(m_world) : nullptr;
    }
    bool FindShader(uint32_t version, SShaderCode* code) override
    {
        static const char* const kNames[4] = {"", "ps14", "ps20", "ps30"};
        if (version > 3 || !m_world->aShaders[version])
            return false;
        code->pCode = kNames[version];
        code->nSize = strlen(kNames[version]);
        return true;
    }
    uint32_t OsMajorVersion() override { return m_world->dwOsMajor; }
    bool IsCompositionEnabled() override { return m_world->bComposition; }

private:
    World m_world;
};

} // namespace

std::unique_ptr<IDriver> CreateScriptedD3D9(std::shared_ptr<SD3D9World> world)
{
    return std::make_unique<CDriver>(std::move(world));
}

} // namespace displaytest
