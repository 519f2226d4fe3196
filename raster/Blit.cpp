// BitBlt, StretchBlt and SetDIBits: pixel copies between bitmaps of any of the layer's formats.
//
// These loops run once per frame over the whole picture, so they are ours rather than cairo's:
// a column table computed once per call, a gather per row in the source's own pixel size, a
// memcpy for rows that repeat (enlarging) or need no scaling, and a conversion through 32-bit
// words only when the formats differ.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "raster/DrawScope.h"
#include "raster/Gdi.h"

namespace raster {

namespace {

struct Pixel24 {
    uint8_t b[3];
};

template <typename T>
void GatherRow(const uint8_t* sourceRow, const int32_t* columns, int32_t count, uint8_t* target)
{
    const T* s = reinterpret_cast<const T*>(sourceRow);
    T* d = reinterpret_cast<T*>(target);
    for (int32_t i = 0; i < count; ++i)
        d[i] = s[columns[i]];
}

void Gather(int bytesPerPixel, const uint8_t* sourceRow, const int32_t* columns, int32_t count, uint8_t* target)
{
    switch (bytesPerPixel) {
    case 4:
        GatherRow<uint32_t>(sourceRow, columns, count, target);
        break;
    case 3:
        GatherRow<Pixel24>(sourceRow, columns, count, target);
        break;
    case 2:
        GatherRow<uint16_t>(sourceRow, columns, count, target);
        break;
    default:
        GatherRow<uint8_t>(sourceRow, columns, count, target);
        break;
    }
}

// One axis of a transfer: destination and source spans as corner and length, and whether the
// picture runs backwards.
struct SAxis {
    int64_t dstStart, dstLength, srcStart, srcLength;
    bool mirror;
};

SAxis MakeAxis(int32_t dst, int32_t dstExtent, int32_t src, int32_t srcExtent)
{
    SAxis a;
    a.dstStart = dstExtent < 0 ? static_cast<int64_t>(dst) + dstExtent : dst;
    a.dstLength = dstExtent < 0 ? -static_cast<int64_t>(dstExtent) : dstExtent;
    a.srcStart = srcExtent < 0 ? static_cast<int64_t>(src) + srcExtent : src;
    a.srcLength = srcExtent < 0 ? -static_cast<int64_t>(srcExtent) : srcExtent;
    a.mirror = (dstExtent < 0) != (srcExtent < 0);
    return a;
}

// Source coordinate for destination offset i: the source pixel under the destination pixel's
// centre.
int64_t SourceAt(const SAxis& a, int64_t i)
{
    int64_t j = a.dstLength == a.srcLength ? i : (2 * i + 1) * a.srcLength / (2 * a.dstLength);
    if (a.mirror)
        j = a.srcLength - 1 - j;
    return a.srcStart + j;
}

// The first offset in [lo, hi) where holds turns false (hi when it never does); holds must be
// true on a run at the start and false after it.
template <typename Predicate>
int64_t FirstFailing(int64_t lo, int64_t hi, Predicate holds)
{
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (holds(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Narrows [*first, *last) of destination offsets to those inside the destination bitmap (of
// size dstSize) whose source lies inside the source bitmap (of size srcSize). The source
// coordinate is monotonic in the offset, so the usable offsets are one run.
bool UsableRange(const SAxis& a, int32_t dstSize, int32_t srcSize, int64_t* first, int64_t* last)
{
    *first = std::max<int64_t>(0, -a.dstStart);
    *last = std::min<int64_t>(a.dstLength, dstSize - a.dstStart);
    if (*first >= *last)
        return false;
    // Binary searches for the run's ends, as the range may hold millions of offsets.
    auto inside = [&](int64_t i) {
        const int64_t s = SourceAt(a, i);
        return s >= 0 && s < srcSize;
    };
    auto before = [&](int64_t i) { // true while the source is still short of the bitmap
        const int64_t s = SourceAt(a, i);
        return a.mirror ? s >= srcSize : s < 0;
    };
    *first = FirstFailing(*first, *last, before);
    *last = FirstFailing(*first, *last, inside);
    return *first < *last;
}

int Transfer(CBitmap* dst, const SAxis& ax, const SAxis& ay, const CBitmap* src)
{
    if (ax.dstLength == 0 || ay.dstLength == 0 || ax.srcLength == 0 || ay.srcLength == 0)
        return 1;
    int64_t x0, x1, y0, y1;
    if (!UsableRange(ax, dst->Width(), src->Width(), &x0, &x1) ||
        !UsableRange(ay, dst->Height(), src->Height(), &y0, &y1))
        return 1;
    const int32_t count = static_cast<int32_t>(x1 - x0);
    const bool sameFormat = dst->SameFormat(*src);
    const bool identityX = !ax.mirror && ax.dstLength == ax.srcLength;
    const int dstBytes = dst->BytesPerPixel(), srcBytes = src->BytesPerPixel();

    int32_t* columns = nullptr;
    uint8_t* gathered = nullptr;
    uint32_t* words = nullptr;
    bool ok = true;
    if (!identityX) {
        columns = new (std::nothrow) int32_t[count];
        ok = columns != nullptr;
        for (int32_t i = 0; ok && i < count; ++i)
            columns[i] = static_cast<int32_t>(SourceAt(ax, x0 + i));
    }
    if (ok && !sameFormat) {
        words = static_cast<uint32_t*>(malloc(static_cast<size_t>(count) * 4));
        gathered = identityX ? nullptr : static_cast<uint8_t*>(malloc(static_cast<size_t>(count) * srcBytes));
        ok = words && (identityX || gathered);
    }
    if (ok) {
        const int32_t firstSourceX = static_cast<int32_t>(SourceAt(ax, x0));
        int64_t previousSourceY = -1;
        const uint8_t* previousTarget = nullptr;
        for (int64_t y = y0; y < y1; ++y) {
            const int64_t sy = SourceAt(ay, y);
            uint8_t* target = dst->Pixel(static_cast<int32_t>(ax.dstStart + x0), static_cast<int32_t>(ay.dstStart + y));
            if (sy == previousSourceY) {
                // Enlarging repeats rows: copy the row just made.
                memcpy(target, previousTarget, static_cast<size_t>(count) * dstBytes);
                continue;
            }
            const uint8_t* sourceRow = src->Row(static_cast<int32_t>(sy));
            if (sameFormat) {
                if (identityX)
                    memmove(target, sourceRow + static_cast<ptrdiff_t>(firstSourceX) * srcBytes,
                            static_cast<size_t>(count) * dstBytes);
                else
                    Gather(dstBytes, sourceRow, columns, count, target);
            } else {
                const uint8_t* pixels = sourceRow + static_cast<ptrdiff_t>(firstSourceX) * srcBytes;
                if (!identityX) {
                    Gather(srcBytes, sourceRow, columns, count, gathered);
                    pixels = gathered;
                }
                src->ToRgb(pixels, count, words);
                dst->FromRgb(words, count, target);
            }
            previousSourceY = sy;
            previousTarget = target;
        }
    }
    delete[] columns;
    free(gathered);
    free(words);
    return ok ? 1 : 0;
}

} // namespace

int StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC source, int32_t sourceX,
               int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight, uint32_t rop)
{
    if (!dest || !source || !dest->Bitmap() || !source->Bitmap() || rop != SRCCOPY)
        return 0;
    const SAxis ax = MakeAxis(x, width, sourceX, sourceWidth);
    const SAxis ay = MakeAxis(y, height, sourceY, sourceHeight);
    CBitmap* target = dest->Bitmap();
    const CBitmap* from = source->Bitmap();
    if (target != from)
        return Transfer(target, ax, ay, from);
    // Within one bitmap the rows read would be overwritten before they are read: copy first.
    CBitmap* copy = from->Duplicate();
    if (!copy)
        return 0;
    const int result = Transfer(target, ax, ay, copy);
    delete copy;
    return result;
}

int BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC source, int32_t sourceX,
           int32_t sourceY, uint32_t rop)
{
    return StretchBlt(dest, x, y, width, height, source, sourceX, sourceY, width, height, rop);
}

int SetDIBits(HDC, HBITMAP bitmap, uint32_t start, uint32_t lines, const void* bits, const BITMAPINFO* info,
              uint32_t usage)
{
    if (!bitmap || !bits || !info || usage != DIB_RGB_COLORS)
        return 0;
    const int64_t height = info->bmiHeader.biHeight < 0 ? -static_cast<int64_t>(info->bmiHeader.biHeight)
                                                        : info->bmiHeader.biHeight;
    if (start >= height || lines == 0)
        return 0;
    const int32_t rows = static_cast<int32_t>(std::min<int64_t>(lines, height - start));
    CBitmap* view = CBitmap::CreateDibView(info, bits, rows);
    if (!view)
        return 0;
    // Scan lines count from the first stored row: the bottom of a bottom-up DIB.
    const int64_t top = view->IsBottomUp() ? height - start - rows : start;
    const SAxis ax = MakeAxis(0, view->Width(), 0, view->Width());
    const SAxis ay = MakeAxis(static_cast<int32_t>(top), rows, 0, rows);
    const int result = Transfer(bitmap, ax, ay, view);
    delete view;
    return result ? rows : 0;
}

} // namespace raster
