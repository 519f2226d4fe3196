/* The C library's own frame loop, the baseline of frame_bench.py, built as a small shared object
 * that the benchmark calls through ctypes once per chunk: it reads `frames` frames with force 1
 * on the handle and into the memory it is given (the package's own), and returns the seconds the
 * loop took, or -1 with the failing result in *result. */
#include <time.h>

#include "pellix/pellix.h"

PX_API double PellixBenchReadLoop(PXHANDLE h, const char* id, int frames, void* dest, uint32_t* result)
{
    struct timespec start, end;
    PXBufferInfo info;
    uint32_t received = 0;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < frames; ++i) {
        *result = PXGetExchangeBufferData(h, id, 1, dest, &info, &received);
        if (*result != PX_OK)
            return -1.0;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
}
