// The main of wsdl_soap_fuzz when no libFuzzer drives it (the gcc builds run it as a test):
// deterministic inputs of every kind the harness knows, mostly edits of valid documents, some
// documents unedited, some raw bytes. Argument: the number of runs, 20 000 by default.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzAgent.h"
#include "fuzz/WsdlSoapFuzz.h"

int main(int argc, char** argv)
{
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    CFuzzRandom rng{1};
    for (long i = 0; i < runs; ++i) {
        std::string input(1, static_cast<char>((i & 1) | (i % 5 != 4 ? 2 : 0)));
        const uint32_t extra = i % 11 == 0 ? 0 : 1 + rng.Below(24);
        for (uint32_t k = 0; k < extra; ++k)
            input += static_cast<char>(rng.Next());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    // The unedited documents, at least, must get through, or the runs prove nothing.
    const uint64_t read = WsdlSoapDocumentsRead();
    if (read < static_cast<uint64_t>(runs) / 40) {
        std::fprintf(stderr, "wsdl_soap_fuzz: only %llu WSDL documents were read\n", static_cast<unsigned long long>(read));
        return 1;
    }
    std::printf("wsdl_soap_fuzz: %ld runs, %llu WSDL documents read\n", runs, static_cast<unsigned long long>(read));
    return 0;
}
