#include "display/GlesD3D9.h"

#include <cstring>
#include <new>
#include <vector>

#include "display/DXDisplay.h"
#include "display/GlesContext.h"
#include "platform/Config.h"

namespace display {

using namespace d3d9;

namespace {

// An object nobody else holds: Release destroys it.
template <typename Interface>
class COwnedObject : public Interface {
public:
    HRESULT Release() override
    {
        delete this;
        return D3D_OK;
    }
};

// Pixel (x, y) of Direct3D's screen space has its centre at (x + 0.5, y + 0.5) in GL's window
// coordinates. Row 0 of every picture here is its top row, stored first, so no axis is flipped.
const char kVertexShader[] = R"(#version 300 es
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec2 aTexCoord;
uniform vec2 uTargetSize;
out vec2 vTexCoord;
void main() {
    gl_Position = vec4((aPosition.xy + 0.5) / uTargetSize * 2.0 - 1.0, aPosition.z, 1.0);
    vTexCoord = aTexCoord;
}
)";

// Stage 0 is the overlay, stage 1 the 1 x 1 key; an exact match of the three colours takes the
// alpha of c0, anything else that of c1.
const char kTransparencyShader30[] = R"(#version 300 es
precision highp float;
uniform sampler2D uStage0;
uniform sampler2D uStage1;
uniform vec4 c0;
uniform vec4 c1;
in vec2 vTexCoord;
out vec4 fragColor;
void main() {
    vec4 texel = texture(uStage0, vTexCoord);
    vec3 difference = texel.rgb - texture(uStage1, vec2(0.0, 0.0)).rgb;
    float d = dot(difference, difference);
    fragColor = vec4(texel.rgb, d == 0.0 ? c0.w : c1.w);
}
)";

bool IsColorFormat(D3DFORMAT format)
{
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || format == D3DFMT_R5G6B5 ||
           format == D3DFMT_X1R5G5B5;
}

// A picture on the GPU (a texture with its framebuffer object) and its staging copy in memory.
// Shared by a texture and the surfaces taken from it, by the device's back buffer and the
// surfaces GetBackBuffer hands out. Used only inside a scope of its context.
struct SImage {
    std::shared_ptr<CGlesContext> context;
    uint32_t generation = 0;
    GLuint texture = 0;
    GLuint framebuffer = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> staging;
    bool stagingCurrent = true; // staging holds what the GPU holds

    ~SImage()
    {
        CGlesScope scope(*context);
        if (scope.Ok() && generation == context->Generation()) {
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteTextures(1, &texture);
        }
    }

    int32_t Stride() const { return width * 4; }

    static std::shared_ptr<SImage> Create(const std::shared_ptr<CGlesContext>& context, uint32_t width,
                                          uint32_t height, GLint maxSide)
    {
        if (width == 0 || height == 0 || width > static_cast<uint32_t>(maxSide) ||
            height > static_cast<uint32_t>(maxSide))
            return nullptr;
        std::shared_ptr<SImage> image(new (std::nothrow) SImage);
        if (!image)
            return nullptr;
        image->context = context;
        image->generation = context->Generation();
        image->width = static_cast<int32_t>(width);
        image->height = static_cast<int32_t>(height);
        try {
            image->staging.assign(static_cast<size_t>(width) * height * 4, 0);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        while (glGetError() != GL_NO_ERROR) {
        }
        glGenTextures(1, &image->texture);
        glBindTexture(GL_TEXTURE_2D, image->texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image->width, image->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     image->staging.data());
        glGenFramebuffers(1, &image->framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, image->framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, image->texture, 0);
        const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (!complete || glGetError() != GL_NO_ERROR)
            return nullptr;
        return image;
    }

    void Upload()
    {
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, staging.data());
        stagingCurrent = true;
    }

    // Reads the picture into memory of rowLength pixels a row.
    void ReadInto(uint8_t* target, int32_t rowLength) const
    {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glPixelStorei(GL_PACK_ROW_LENGTH, rowLength);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, target);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }

    void MakeStagingCurrent()
    {
        if (!stagingCurrent) {
            ReadInto(staging.data(), width);
            stagingCurrent = true;
        }
    }
};

class CSurface final : public ISurface {
public:
    explicit CSurface(std::shared_ptr<SImage> image) : m_pImage(std::move(image)) {}

    HRESULT Release() override
    {
        if (m_hDC)
            raster::DeleteDC(m_hDC);
        delete this;
        return D3D_OK;
    }

    HRESULT GetDC(raster::HDC* hdc) override
    {
        if (!hdc || m_hDC)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pImage->context);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        m_pImage->MakeStagingCurrent();
        m_hDC = raster::CreateSurfaceDC(m_pImage->staging.data(), m_pImage->width, m_pImage->height,
                                        m_pImage->Stride());
        if (!m_hDC)
            return E_OUTOFMEMORY;
        *hdc = m_hDC;
        return D3D_OK;
    }

    HRESULT ReleaseDC(raster::HDC hdc) override
    {
        if (!m_hDC || hdc != m_hDC)
            return D3DERR_INVALIDCALL;
        raster::DeleteDC(m_hDC);
        m_hDC = nullptr;
        CGlesScope scope(*m_pImage->context);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        m_pImage->Upload();
        return D3D_OK;
    }

    const std::shared_ptr<SImage>& Image() const { return m_pImage; }

private:
    ~CSurface() override = default;

    std::shared_ptr<SImage> m_pImage;
    raster::HDC m_hDC = nullptr;
};

class CTexture final : public COwnedObject<ITexture> {
public:
    explicit CTexture(std::shared_ptr<SImage> image) : m_pImage(std::move(image)) {}

    HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, uint32_t) override
    {
        if (level != 0 || !locked || m_bLocked)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pImage->context);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        m_pImage->MakeStagingCurrent();
        locked->pBits = m_pImage->staging.data();
        locked->Pitch = m_pImage->Stride();
        m_bLocked = true;
        return D3D_OK;
    }

    HRESULT UnlockRect(uint32_t level) override
    {
        if (level != 0 || !m_bLocked)
            return D3DERR_INVALIDCALL;
        m_bLocked = false;
        CGlesScope scope(*m_pImage->context);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        m_pImage->Upload();
        return D3D_OK;
    }

    HRESULT GetSurfaceLevel(uint32_t level, ISurface** surface) override
    {
        if (level != 0 || !surface)
            return D3DERR_INVALIDCALL;
        *surface = new (std::nothrow) CSurface(m_pImage);
        return *surface ? D3D_OK : E_OUTOFMEMORY;
    }

    const std::shared_ptr<SImage>& Image() const { return m_pImage; }

private:
    ~CTexture() override = default;

    std::shared_ptr<SImage> m_pImage;
    bool m_bLocked = false;
};

struct SBuffer {
    std::shared_ptr<CGlesContext> context;
    uint32_t generation = 0;
    GLuint buffer = 0;
    std::vector<uint8_t> data;

    ~SBuffer()
    {
        CGlesScope scope(*context);
        if (scope.Ok() && generation == context->Generation())
            glDeleteBuffers(1, &buffer);
    }
};

class CVertexBuffer final : public COwnedObject<IVertexBuffer> {
public:
    explicit CVertexBuffer(std::shared_ptr<SBuffer> buffer) : m_pBuffer(std::move(buffer)) {}

    HRESULT Lock(uint32_t offset, uint32_t size, void** data, uint32_t) override
    {
        const size_t length = m_pBuffer->data.size();
        if (!data || m_bLocked || offset > length || size > length - offset)
            return D3DERR_INVALIDCALL;
        *data = m_pBuffer->data.data() + offset;
        m_bLocked = true;
        return D3D_OK;
    }

    HRESULT Unlock() override
    {
        if (!m_bLocked)
            return D3DERR_INVALIDCALL;
        m_bLocked = false;
        CGlesScope scope(*m_pBuffer->context);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        glBindBuffer(GL_ARRAY_BUFFER, m_pBuffer->buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_pBuffer->data.size()), m_pBuffer->data.data(),
                     GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return D3D_OK;
    }

    const std::shared_ptr<SBuffer>& Buffer() const { return m_pBuffer; }

private:
    ~CVertexBuffer() override = default;

    std::shared_ptr<SBuffer> m_pBuffer;
    bool m_bLocked = false;
};

struct SProgram {
    std::shared_ptr<CGlesContext> context;
    uint32_t generation = 0;
    GLuint program = 0;
    GLint targetSize = -1, c0 = -1, c1 = -1;

    ~SProgram()
    {
        CGlesScope scope(*context);
        if (scope.Ok() && generation == context->Generation())
            glDeleteProgram(program);
    }
};

class CPixelShader final : public COwnedObject<IPixelShader> {
public:
    explicit CPixelShader(std::shared_ptr<SProgram> program) : m_pProgram(std::move(program)) {}

    const std::shared_ptr<SProgram>& Program() const { return m_pProgram; }

private:
    ~CPixelShader() override = default;

    std::shared_ptr<SProgram> m_pProgram;
};

GLuint CompileShader(GLenum kind, const char* source, size_t length)
{
    GLuint shader = glCreateShader(kind);
    const GLint size = static_cast<GLint>(length);
    glShaderSource(shader, 1, &source, &size);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// The client size of the window, or false without one.
bool ClientSize(HWND window, int32_t* width, int32_t* height)
{
    if (!window)
        return false;
    raster::RECT client{};
    window->GetClientRect(&client);
    *width = client.right - client.left;
    *height = client.bottom - client.top;
    return *width > 0 && *height > 0;
}

class CDevice final : public IDevice {
public:
    CDevice(std::shared_ptr<CGlesContext> context, HWND window, GLint maxSide)
        : m_pContext(std::move(context)), m_hWindow(window), m_nMaxSide(maxSide)
    {
    }

    // Makes the back buffer of the window's client size.
    HRESULT Init()
    {
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        int32_t width, height;
        if (!ClientSize(m_hWindow, &width, &height))
            return D3DERR_INVALIDCALL;
        m_pBackBuffer = SImage::Create(m_pContext, static_cast<uint32_t>(width), static_cast<uint32_t>(height), m_nMaxSide);
        if (!m_pBackBuffer)
            return D3DERR_OUTOFVIDEOMEMORY;
        glGenVertexArrays(1, &m_vertexArray);
        m_dwGeneration = m_pContext->Generation();
        return D3D_OK;
    }

    HRESULT Release() override
    {
        {
            CGlesScope scope(*m_pContext);
            if (scope.Ok() && m_dwGeneration == m_pContext->Generation())
                glDeleteVertexArrays(1, &m_vertexArray);
        }
        delete this;
        return D3D_OK;
    }

    HRESULT TestCooperativeLevel() override
    {
        CGlesScope scope(*m_pContext);
        return m_pContext->IsLost() || !scope.Ok() ? D3DERR_DEVICENOTRESET : D3D_OK;
    }

    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override
    {
        if (!parameters)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (m_pContext->IsLost() || !scope.Ok()) {
            if (!m_pContext->Renew())
                return D3DERR_DEVICELOST;
        } else if (m_dwGeneration == m_pContext->Generation()) {
            glDeleteVertexArrays(1, &m_vertexArray);
        }
        m_vertexArray = 0;
        m_pBackBuffer.reset();
        m_pTextures[0].reset();
        m_pTextures[1].reset();
        m_pStream.reset();
        m_pProgram.reset();
        m_bInScene = false;
        return Init();
    }

    HRESULT GetDisplayMode(uint32_t swapChain, D3DDISPLAYMODE* mode) override
    {
        if (swapChain != 0 || !mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{static_cast<uint32_t>(m_pBackBuffer->width), static_cast<uint32_t>(m_pBackBuffer->height),
                               60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) override
    {
        // Culling, depth and lighting never apply to the one quad drawn; blending does.
        switch (state) {
        case D3DRS_ALPHABLENDENABLE: m_bBlend = value != 0; break;
        case D3DRS_SRCBLEND: m_srcBlend = BlendFactor(value); break;
        case D3DRS_DESTBLEND: m_dstBlend = BlendFactor(value); break;
        default: break;
        }
        return D3D_OK;
    }

    HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE, uint32_t) override
    {
        // Every texture clamps already.
        return sampler < 2 ? D3D_OK : D3DERR_INVALIDCALL;
    }

    HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t, D3DFORMAT format, D3DPOOL,
                          ITexture** texture) override
    {
        if (!texture || levels > 1 || !IsColorFormat(format))
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        std::shared_ptr<SImage> image = SImage::Create(m_pContext, width, height, m_nMaxSide);
        if (!image)
            return D3DERR_OUTOFVIDEOMEMORY;
        *texture = new (std::nothrow) CTexture(std::move(image));
        return *texture ? D3D_OK : E_OUTOFMEMORY;
    }

    HRESULT CreateVertexBuffer(uint32_t length, uint32_t, uint32_t, D3DPOOL, IVertexBuffer** buffer) override
    {
        if (!buffer || length == 0)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        std::shared_ptr<SBuffer> data(new (std::nothrow) SBuffer);
        if (!data)
            return E_OUTOFMEMORY;
        data->context = m_pContext;
        data->generation = m_pContext->Generation();
        data->data.assign(length, 0);
        glGenBuffers(1, &data->buffer);
        *buffer = new (std::nothrow) CVertexBuffer(std::move(data));
        return *buffer ? D3D_OK : E_OUTOFMEMORY;
    }

    HRESULT CreateRenderTarget(uint32_t width, uint32_t height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                               uint32_t, int32_t, ISurface** surface) override
    {
        if (!surface || !IsColorFormat(format) || multiSample != D3DMULTISAMPLE_NONE)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        std::shared_ptr<SImage> image = SImage::Create(m_pContext, width, height, m_nMaxSide);
        if (!image)
            return D3DERR_OUTOFVIDEOMEMORY;
        *surface = new (std::nothrow) CSurface(std::move(image));
        return *surface ? D3D_OK : E_OUTOFMEMORY;
    }

    HRESULT CreatePixelShader(const SShaderCode& code, IPixelShader** shader) override
    {
        if (!shader || !code.pCode)
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        GLuint vertex = CompileShader(GL_VERTEX_SHADER, kVertexShader, sizeof kVertexShader - 1);
        GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, static_cast<const char*>(code.pCode), code.nSize);
        std::shared_ptr<SProgram> program(new (std::nothrow) SProgram);
        if (!vertex || !fragment || !program) {
            glDeleteShader(vertex);
            glDeleteShader(fragment);
            return vertex && fragment ? E_OUTOFMEMORY : E_FAIL;
        }
        program->context = m_pContext;
        program->generation = m_pContext->Generation();
        program->program = glCreateProgram();
        glAttachShader(program->program, vertex);
        glAttachShader(program->program, fragment);
        glLinkProgram(program->program);
        glDeleteShader(vertex);
        glDeleteShader(fragment);
        GLint linked = GL_FALSE;
        glGetProgramiv(program->program, GL_LINK_STATUS, &linked);
        if (!linked)
            return E_FAIL;
        program->targetSize = glGetUniformLocation(program->program, "uTargetSize");
        program->c0 = glGetUniformLocation(program->program, "c0");
        program->c1 = glGetUniformLocation(program->program, "c1");
        glUseProgram(program->program);
        glUniform1i(glGetUniformLocation(program->program, "uStage0"), 0);
        glUniform1i(glGetUniformLocation(program->program, "uStage1"), 1);
        glUseProgram(0);
        *shader = new (std::nothrow) CPixelShader(std::move(program));
        return *shader ? D3D_OK : E_OUTOFMEMORY;
    }

    HRESULT SetPixelShader(IPixelShader* shader) override
    {
        m_pProgram = shader ? static_cast<CPixelShader*>(shader)->Program() : nullptr;
        return D3D_OK;
    }

    HRESULT SetPixelShaderConstantF(uint32_t startRegister, const float* data, uint32_t vectorCount) override
    {
        if (!data)
            return D3DERR_INVALIDCALL;
        for (uint32_t i = 0; i < vectorCount; ++i) {
            const uint32_t reg = startRegister + i;
            if (reg < 2)
                memcpy(m_aConstants[reg], data + 4 * i, sizeof m_aConstants[reg]);
        }
        return D3D_OK;
    }

    HRESULT StretchRect(ISurface* source, ISurface* target, D3DTEXTUREFILTERTYPE filter) override
    {
        if (!source || !target || source == target)
            return D3DERR_INVALIDCALL;
        SImage& from = *static_cast<CSurface*>(source)->Image();
        SImage& to = *static_cast<CSurface*>(target)->Image();
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, from.framebuffer);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to.framebuffer);
        glBlitFramebuffer(0, 0, from.width, from.height, 0, 0, to.width, to.height, GL_COLOR_BUFFER_BIT,
                          filter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        to.stagingCurrent = false;
        return glGetError() == GL_NO_ERROR ? D3D_OK : D3DERR_INVALIDCALL;
    }

    HRESULT BeginScene() override
    {
        if (m_bInScene)
            return D3DERR_INVALIDCALL;
        m_bInScene = true;
        return D3D_OK;
    }

    HRESULT EndScene() override
    {
        if (!m_bInScene)
            return D3DERR_INVALIDCALL;
        m_bInScene = false;
        return D3D_OK;
    }

    HRESULT GetBackBuffer(uint32_t swapChain, uint32_t index, D3DBACKBUFFER_TYPE, ISurface** surface) override
    {
        if (swapChain != 0 || index != 0 || !surface)
            return D3DERR_INVALIDCALL;
        *surface = new (std::nothrow) CSurface(m_pBackBuffer);
        return *surface ? D3D_OK : E_OUTOFMEMORY;
    }

    HRESULT SetTexture(uint32_t stage, ITexture* texture) override
    {
        if (stage >= 2)
            return D3DERR_INVALIDCALL;
        m_pTextures[stage] = texture ? static_cast<CTexture*>(texture)->Image() : nullptr;
        return D3D_OK;
    }

    HRESULT SetStreamSource(uint32_t stream, IVertexBuffer* buffer, uint32_t offset, uint32_t stride) override
    {
        if (stream != 0 || offset != 0 || (buffer && stride != sizeof(SQuadVertex)))
            return D3DERR_INVALIDCALL;
        m_pStream = buffer ? static_cast<CVertexBuffer*>(buffer)->Buffer() : nullptr;
        return D3D_OK;
    }

    HRESULT SetFVF(uint32_t fvf) override
    {
        // The one vertex layout this layer draws: the screen-space quad.
        if (fvf != (D3DFVF_XYZRHW | D3DFVF_TEX1))
            return D3DERR_INVALIDCALL;
        m_bQuadFormat = true;
        return D3D_OK;
    }

    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t startVertex, uint32_t primitiveCount) override
    {
        if (type != D3DPT_TRIANGLESTRIP || !m_bInScene || !m_bQuadFormat || !m_pProgram || !m_pStream ||
            !m_pTextures[0] || !m_pTextures[1] ||
            (startVertex + primitiveCount + 2) * sizeof(SQuadVertex) > m_pStream->data.size())
            return D3DERR_INVALIDCALL;
        CGlesScope scope(*m_pContext);
        if (!scope.Ok())
            return D3DERR_DEVICELOST;
        SImage& target = *m_pBackBuffer;
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.framebuffer);
        glViewport(0, 0, target.width, target.height);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        if (m_bBlend) {
            glEnable(GL_BLEND);
            glBlendFunc(m_srcBlend, m_dstBlend);
        } else {
            glDisable(GL_BLEND);
        }
        // The fourth byte of a picture is unused; the overlay leaves it as it was.
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
        glUseProgram(m_pProgram->program);
        glUniform2f(m_pProgram->targetSize, static_cast<float>(target.width), static_cast<float>(target.height));
        glUniform4fv(m_pProgram->c0, 1, m_aConstants[0]);
        glUniform4fv(m_pProgram->c1, 1, m_aConstants[1]);
        for (GLuint unit = 0; unit < 2; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D, m_pTextures[unit]->texture);
        }
        glBindVertexArray(m_vertexArray);
        glBindBuffer(GL_ARRAY_BUFFER, m_pStream->buffer);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(SQuadVertex), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(SQuadVertex),
                              reinterpret_cast<const void*>(offsetof(SQuadVertex, u)));
        glDrawArrays(GL_TRIANGLE_STRIP, static_cast<GLint>(startVertex), static_cast<GLsizei>(primitiveCount + 2));
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glUseProgram(0);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDisable(GL_BLEND);
        glActiveTexture(GL_TEXTURE0);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        target.stagingCurrent = false;
        return glGetError() == GL_NO_ERROR ? D3D_OK : D3DERR_INVALIDCALL;
    }

    HRESULT Present() override
    {
        if (m_bInScene)
            return D3DERR_INVALIDCALL;
        WindowPixels window;
        if (!m_hWindow || !m_hWindow->AcquirePixels(&window))
            return D3DERR_INVALIDCALL;
        HRESULT hr = D3D_OK;
        {
            CGlesScope scope(*m_pContext);
            SImage& picture = *m_pBackBuffer;
            if (!scope.Ok()) {
                hr = D3DERR_DEVICELOST;
            } else if (window.width == picture.width && window.height == picture.height && window.stride % 4 == 0 &&
                       window.stride >= picture.width * 4) {
                picture.ReadInto(window.pixels, window.stride / 4);
            } else {
                // The window changed its size since the device was made: stretch to it.
                picture.MakeStagingCurrent();
                raster::HDC from = raster::CreateSurfaceDC(picture.staging.data(), picture.width, picture.height,
                                                           picture.Stride());
                raster::HDC to = raster::CreateSurfaceDC(window.pixels, window.width, window.height, window.stride);
                if (!from || !to ||
                    !raster::StretchBlt(to, 0, 0, window.width, window.height, from, 0, 0, picture.width,
                                        picture.height, raster::SRCCOPY))
                    hr = E_OUTOFMEMORY;
                raster::DeleteDC(from);
                raster::DeleteDC(to);
            }
        }
        m_hWindow->ReleasePixels(window);
        return hr;
    }

private:
    ~CDevice() override = default;

    static GLenum BlendFactor(uint32_t value)
    {
        switch (value) {
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        default: return GL_ONE;
        }
    }

    std::shared_ptr<CGlesContext> m_pContext;
    HWND m_hWindow;
    GLint m_nMaxSide;
    uint32_t m_dwGeneration = 0;
    std::shared_ptr<SImage> m_pBackBuffer;
    GLuint m_vertexArray = 0;
    bool m_bBlend = false;
    GLenum m_srcBlend = GL_ONE;
    GLenum m_dstBlend = GL_ZERO;
    float m_aConstants[2][4] = {};
    std::shared_ptr<SImage> m_pTextures[2];
    std::shared_ptr<SBuffer> m_pStream;
    std::shared_ptr<SProgram> m_pProgram;
    bool m_bQuadFormat = false;
    bool m_bInScene = false;
};

class CDirect3D final : public COwnedObject<IDirect3D> {
public:
    explicit CDirect3D(std::shared_ptr<CGlesContext> context) : m_pContext(std::move(context))
    {
        CGlesScope scope(*m_pContext);
        if (scope.Ok())
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &m_nMaxSide);
        m_dwShadingMajor = m_pContext->ShadingLanguageMajor();
    }

    HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !mode)
            return D3DERR_INVALIDCALL;
        // The host's window surfaces are the desktop here: 32 bits.
        *mode = D3DDISPLAYMODE{0, 0, 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE, D3DFORMAT adapterFormat, uint32_t, D3DRESOURCETYPE,
                              D3DFORMAT checkFormat) override
    {
        if (adapter != D3DADAPTER_DEFAULT)
            return D3DERR_INVALIDCALL;
        return IsColorFormat(adapterFormat) && IsColorFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT CheckDeviceType(uint32_t adapter, D3DDEVTYPE, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                            int32_t) override
    {
        if (adapter != D3DADAPTER_DEFAULT)
            return D3DERR_INVALIDCALL;
        return IsColorFormat(displayFormat) && IsColorFormat(backBufferFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT CheckDeviceFormatConversion(uint32_t adapter, D3DDEVTYPE, D3DFORMAT sourceFormat,
                                        D3DFORMAT targetFormat) override
    {
        return CheckDeviceType(adapter, D3DDEVTYPE_HAL, sourceFormat, targetFormat, 1);
    }

    HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE, D3DCAPS9* caps) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !caps || m_nMaxSide <= 0)
            return D3DERR_INVALIDCALL;
        *caps = D3DCAPS9{};
        caps->TextureCaps = 0; // any size, not only squares
        caps->SrcBlendCaps = D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
        caps->DestBlendCaps = D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
        caps->StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                                      D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
        caps->MaxTextureWidth = static_cast<uint32_t>(m_nMaxSide);
        caps->MaxTextureHeight = static_cast<uint32_t>(m_nMaxSide);
        // Direct3D 9 ends at pixel shader 3.0, which GLSL ES 3.00 and later stand for; GLSL ES 1.00
        // is what 2.0 would be, for which this layer has no shader.
        caps->PixelShaderVersion = m_dwShadingMajor >= 3 ? D3DPS_VERSION(3, 0) : D3DPS_VERSION(2, 0);
        return D3D_OK;
    }

    HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE, HWND focusWindow, uint32_t, D3DPRESENT_PARAMETERS* parameters,
                         IDevice** device) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !parameters || !device || !parameters->Windowed)
            return D3DERR_INVALIDCALL;
        CDevice* made = new (std::nothrow) CDevice(m_pContext, focusWindow, m_nMaxSide);
        if (!made)
            return E_OUTOFMEMORY;
        const HRESULT hr = made->Init();
        if (FAILED(hr)) {
            made->Release();
            return hr;
        }
        *device = made;
        return D3D_OK;
    }

private:
    ~CDirect3D() override = default;

    std::shared_ptr<CGlesContext> m_pContext;
    GLint m_nMaxSide = 0;
    uint32_t m_dwShadingMajor = 0;
};

class CGlesDriver final : public IDriver {
public:
    bool LoadDriver() override
    {
        if (!m_pContext)
            m_pContext = CGlesContext::Create();
        if (!m_pContext)
            return false;
        return !m_pContext->IsSoftware() || px::ConfigGetNumber("AllowSoftwareGL", 0) == 1;
    }

    IDirect3D* Direct3DCreate9(uint32_t) override
    {
        if (!m_pContext)
            m_pContext = CGlesContext::Create();
        if (!m_pContext)
            return nullptr;
        return new (std::nothrow) CDirect3D(m_pContext);
    }

    bool FindShader(uint32_t psVersion, SShaderCode* code) override
    {
        if (psVersion != 3 || !code)
            return false;
        code->pCode = kTransparencyShader30;
        code->nSize = sizeof kTransparencyShader30 - 1;
        return true;
    }

    // Linux stands where the versions 6 and later of the original host systems stand.
    uint32_t OsMajorVersion() override { return 6; }

    bool IsCompositionEnabled() override { return display::IsCompositionEnabled(); }

private:
    std::shared_ptr<CGlesContext> m_pContext;
};

} // namespace

std::unique_ptr<IDriver> CreateGlesDriver()
{
    return std::unique_ptr<IDriver>(new (std::nothrow) CGlesDriver);
}

} // namespace display
