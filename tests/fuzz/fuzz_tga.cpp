// libFuzzer harness for the .tga reader of TGLBMP.
#include "ImageFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzImageFile(data, size, ".tga");
}
