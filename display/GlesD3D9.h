// The Direct3D 9 layer on OpenGL ES 3 through EGL, with no window system: render targets,
// textures and the back buffer are textures with framebuffer objects of one context per
// back-end (GlesContext.h); StretchRect is a framebuffer blit with the linear or nearest filter;
// the overlay quad is drawn by a small vertex shader of ours with the transparency shader in
// GLSL ES 3.00; Present reads the back buffer into the host's window surface, so every host
// shows the same pixels.
//
// Pixels keep the raster layer's byte order (blue, green, red, unused) everywhere: the GPU only
// copies, compares and blends them, which needs no knowledge of which channel is which, so the
// bytes go up and come back as they are. A DC of a surface draws into a staging copy in memory,
// uploaded when the DC is given back; a surface the GPU wrote is read back first.
//
// What the device reports: a 32-bit desktop, textures of any size up to the context's maximum,
// the pixel shader version its shading language stands for (3.0 for GLSL ES 3.00), both alpha
// blending orders, linear and nearest stretching. A lost context (robustness extension) is a lost
// device that can be reset at once. Surfaces asked for in a 16-bit format are kept in 32 bits.
#pragma once

#include <memory>

#include "display/D3D9Layer.h"

namespace display {

// LoadDriver refuses a software renderer (Mesa's llvmpipe or softpipe) unless the configuration
// value "AllowSoftwareGL" is 1: it is no acceleration.
std::unique_ptr<d3d9::IDriver> CreateGlesDriver();

} // namespace display
