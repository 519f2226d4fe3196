// Pellix image module: pixels and image files, below the viewer control and the tools.
//
//   PixelFormat  the camera's pixel formats (the PX_FORMAT_ codes) and their sizes
//   Rows         one row from one layout into another: a plain reference row per conversion and
//                SSE2 and AVX2 rows that give the same bytes, chosen once by the processor
//   Planes       whole images in (source, stride, target, stride, width, height) form
//   Conversion   the viewer's display format, pitch, bitmap header and colour tables, CopyConvert
//   BitmapFiles  files of the converted bitmap: bitmap, raw, JPEG, PNG, TIFF
//   ImageWriter  PNG, PGM/PPM and raw files of camera frames, for the tools
//
// Ownership and threads: nothing here owns a thread or keeps state beyond constant tables and the
// processor's level, found once; every function works on the caller's buffers on the caller's
// thread, so any number of threads may convert and write at once. Callers own every buffer;
// scratch memory is a vector the caller hands in, so a caller that converts every frame reuses it.
// Files go through the platform's file calls. Failures are returned as values, never thrown.
#pragma once

#include "image/BitmapFiles.h"
#include "image/Conversion.h"
#include "image/ImageWriter.h"
#include "image/PixelFormat.h"
#include "image/Planes.h"
#include "image/Rows.h"
