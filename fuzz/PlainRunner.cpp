// The main of a fuzz target when no libFuzzer drives it (the gcc builds run it as a test):
// deterministic pseudo-random inputs, valid conversations, and valid conversations with a few
// words or bytes broken. Argument: the number of runs, 20 000 by default.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzAgent.h"
#include "pellix/pellix.h"

namespace {

// Sizes and counts at the edges of what the records allow, written over a word of the input.
void Mutate(std::vector<uint8_t>* bytes, CFuzzRandom& rng)
{
    static const uint32_t kWords[] = {0,     1,     4,          8,          56,         60,        72,
                                      76,    539,   540,        541,        4096,       4097,      65535,
                                      65536, 16u << 20, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    const uint32_t count = 1 + rng.Below(4);
    for (uint32_t i = 0; i < count && bytes->size() > 2; ++i) {
        const size_t at = 2 + rng.Below(static_cast<uint32_t>(bytes->size() - 2));
        switch (rng.Below(4)) {
        case 0:
            (*bytes)[at] = static_cast<uint8_t>(rng.Next());
            break;
        case 1: {
            const size_t word = at & ~size_t{3};
            const uint32_t v = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
            for (size_t b = 0; b < 4 && word + b < bytes->size(); ++b)
                (*bytes)[word + b] = static_cast<uint8_t>(v >> (8 * b));
            break;
        }
        case 2:
            bytes->resize(at);
            break;
        default:
            (*bytes)[at] ^= static_cast<uint8_t>(1u << rng.Below(8));
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned long runs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    CFuzzRandom rng{0x5045'4C4C'4958ull};
    for (unsigned long run = 0; run < runs; ++run) {
        std::vector<uint8_t> input;
        if (run % 4 == 0) {
            input.resize(rng.Below(1024));
            for (uint8_t& b : input)
                b = static_cast<uint8_t>(rng.Next());
        } else {
            input = FuzzValidConversation(rng);
            if (run % 4 != 1)
                Mutate(&input, rng);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
        if (run % 4 == 1 && FuzzLastStickyError() != PX_OK) {
            std::fprintf(stderr, "%s: a valid conversation failed (run %lu)\n", kFuzzTargetName, run);
            return 1;
        }
    }
    std::printf("%s: %lu runs\n", kFuzzTargetName, runs);
    return 0;
}
