// One OpenGL ES 3 context of EGL, without any window: on Mesa's surfaceless platform when EGL
// offers it, else on the default display with a 1 x 1 pbuffer. The Direct3D 9 layer draws only
// into framebuffer objects and reads its pictures back, so the host's window system never meets
// the context.
//
// Threads. A GL context is current on one thread at a time, and the back-end is called from the
// viewer's update thread and its window thread. Every GL call therefore runs inside a CGlesScope,
// which takes the context's lock and makes the context current on the calling thread, and gives
// it up again when the outermost scope ends. The lock is always the innermost lock of the
// process: nothing inside a scope calls out of the layer.
#pragma once

#include <EGL/egl.h>
#include <GLES3/gl3.h>

#include <memory>
#include <mutex>
#include <string>

namespace display {

class CGlesContext {
public:
    // Null when EGL has no OpenGL ES 3 context to give.
    static std::shared_ptr<CGlesContext> Create();
    ~CGlesContext();
    CGlesContext(const CGlesContext&) = delete;
    CGlesContext& operator=(const CGlesContext&) = delete;

    // GL_RENDERER of the context, and whether that names a software renderer (llvmpipe, softpipe).
    const std::string& Renderer() const { return m_strRenderer; }
    bool IsSoftware() const;
    // The major version of the context's shading language (GL_SHADING_LANGUAGE_VERSION, "OpenGL ES
    // GLSL ES 3.00" and later: 3), 0 when it cannot be read.
    uint32_t ShadingLanguageMajor() const { return m_dwShadingMajor; }

    // Whether the context was lost (a reset under the robustness extension); stays true until
    // Renew gives a new context. Call inside a scope.
    bool IsLost();
    // Replaces the context by a new one; every GL object of the old one is gone. False when none
    // could be made.
    bool Renew();
    // Counts the contexts Renew made: a GL object belongs to the generation it was made in, and
    // is gone with it.
    uint32_t Generation() const { return m_dwGeneration; }

private:
    friend class CGlesScope;
    CGlesContext() = default;
    bool MakeContext();
    void DestroyContext();
    bool Enter();
    void Leave();

    std::recursive_mutex m_mutex;
    int m_nDepth = 0;
    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLConfig m_config = nullptr;
    EGLSurface m_pbuffer = EGL_NO_SURFACE;
    EGLContext m_context = EGL_NO_CONTEXT;
    bool m_bRobust = false;
    bool m_bLost = false;
    uint32_t m_dwGeneration = 0;
    std::string m_strRenderer;
    uint32_t m_dwShadingMajor = 0;
    GLenum (*m_pfnResetStatus)() = nullptr;
};

// The context's lock and currency for the scope's life; Ok() is false when the context could not
// be made current (the scope then holds the lock only).
class CGlesScope {
public:
    explicit CGlesScope(CGlesContext& context) : m_context(context), m_bOk(context.Enter()) {}
    ~CGlesScope() { m_context.Leave(); }
    CGlesScope(const CGlesScope&) = delete;
    CGlesScope& operator=(const CGlesScope&) = delete;
    bool Ok() const { return m_bOk; }

private:
    CGlesContext& m_context;
    bool m_bOk;
};

} // namespace display
