#include "display/GlesContext.h"

#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>

namespace display {

namespace {

bool HasExtension(const char* list, const char* name)
{
    if (!list)
        return false;
    const size_t length = strlen(name);
    for (const char* p = strstr(list, name); p; p = strstr(p + 1, name)) {
        if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0'))
            return true;
    }
    return false;
}

// The process's EGL display, initialised once and kept: terminating it would end every context
// another back-end still uses. Surfaceless tells whether it needs no pbuffer.
struct SDisplay {
    EGLDisplay display = EGL_NO_DISPLAY;
    bool surfaceless = false;
};

const SDisplay& ProcessDisplay()
{
    static const SDisplay shared = [] {
        SDisplay d;
        const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay && HasExtension(client, "EGL_MESA_platform_surfaceless")) {
            EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
                d.display = display;
                d.surfaceless = HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
                if (d.surfaceless)
                    return d;
            }
        }
        EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
            d.display = display;
            d.surfaceless = false;
        }
        return d;
    }();
    return shared;
}

} // namespace

std::shared_ptr<CGlesContext> CGlesContext::Create()
{
    const SDisplay& shared = ProcessDisplay();
    if (shared.display == EGL_NO_DISPLAY || !eglBindAPI(EGL_OPENGL_ES_API))
        return nullptr;
    std::shared_ptr<CGlesContext> context(new (std::nothrow) CGlesContext);
    if (!context)
        return nullptr;
    context->m_display = shared.display;
    const EGLint surfaceType = shared.surfaceless ? 0 : EGL_PBUFFER_BIT;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, surfaceType,
                                       EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(shared.display, configAttributes, &context->m_config, 1, &count) || count < 1) {
        // Mesa's surfaceless platform offers no configurations; its contexts need none.
        if (!shared.surfaceless)
            return nullptr;
        context->m_config = nullptr;
    }
    if (!shared.surfaceless) {
        const EGLint pbufferAttributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        context->m_pbuffer = eglCreatePbufferSurface(shared.display, context->m_config, pbufferAttributes);
        if (context->m_pbuffer == EGL_NO_SURFACE)
            return nullptr;
    }
    context->m_bRobust = HasExtension(eglQueryString(shared.display, EGL_EXTENSIONS), "EGL_EXT_create_context_robustness");
    if (!context->MakeContext())
        return nullptr;
    CGlesScope scope(*context);
    if (!scope.Ok())
        return nullptr;
    const GLubyte* renderer = glGetString(GL_RENDERER);
    context->m_strRenderer = renderer ? reinterpret_cast<const char*>(renderer) : "";
    const char* shading = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    const char* digit = shading ? strpbrk(shading, "0123456789") : nullptr;
    if (digit)
        context->m_dwShadingMajor = static_cast<uint32_t>(strtoul(digit, nullptr, 10));
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (context->m_bRobust && HasExtension(extensions, "GL_KHR_robustness"))
        context->m_pfnResetStatus = reinterpret_cast<GLenum (*)()>(eglGetProcAddress("glGetGraphicsResetStatusKHR"));
    else if (context->m_bRobust && HasExtension(extensions, "GL_EXT_robustness"))
        context->m_pfnResetStatus = reinterpret_cast<GLenum (*)()>(eglGetProcAddress("glGetGraphicsResetStatusEXT"));
    return context;
}

CGlesContext::~CGlesContext()
{
    DestroyContext();
    if (m_pbuffer != EGL_NO_SURFACE)
        eglDestroySurface(m_display, m_pbuffer);
}

bool CGlesContext::MakeContext()
{
    const EGLint robust[] = {EGL_CONTEXT_MAJOR_VERSION, 3,
                             EGL_CONTEXT_OPENGL_ROBUST_ACCESS_EXT, EGL_TRUE,
                             EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY_EXT, EGL_LOSE_CONTEXT_ON_RESET_EXT,
                             EGL_NONE};
    const EGLint plain[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_NONE};
    eglBindAPI(EGL_OPENGL_ES_API);
    m_context = EGL_NO_CONTEXT;
    if (m_bRobust)
        m_context = eglCreateContext(m_display, m_config, EGL_NO_CONTEXT, robust);
    if (m_context == EGL_NO_CONTEXT) {
        m_bRobust = false;
        m_context = eglCreateContext(m_display, m_config, EGL_NO_CONTEXT, plain);
    }
    return m_context != EGL_NO_CONTEXT;
}

void CGlesContext::DestroyContext()
{
    if (m_context != EGL_NO_CONTEXT) {
        if (eglGetCurrentContext() == m_context)
            eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(m_display, m_context);
        m_context = EGL_NO_CONTEXT;
    }
}

bool CGlesContext::IsSoftware() const
{
    return m_strRenderer.find("llvmpipe") != std::string::npos || m_strRenderer.find("softpipe") != std::string::npos;
}

bool CGlesContext::IsLost()
{
    if (!m_bLost && m_pfnResetStatus && m_pfnResetStatus() != GL_NO_ERROR)
        m_bLost = true;
    return m_bLost;
}

bool CGlesContext::Renew()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // The scopes around this call hold the old context current; they take the new one.
    const bool current = m_nDepth > 0;
    DestroyContext();
    m_bLost = false;
    ++m_dwGeneration;
    if (!MakeContext())
        return false;
    return !current || eglMakeCurrent(m_display, m_pbuffer, m_pbuffer, m_context);
}

bool CGlesContext::Enter()
{
    m_mutex.lock();
    if (m_nDepth++ > 0)
        return m_context != EGL_NO_CONTEXT && eglGetCurrentContext() == m_context;
    return m_context != EGL_NO_CONTEXT && eglMakeCurrent(m_display, m_pbuffer, m_pbuffer, m_context);
}

void CGlesContext::Leave()
{
    if (--m_nDepth == 0 && eglGetCurrentContext() != EGL_NO_CONTEXT)
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    m_mutex.unlock();
}

} // namespace display
