// libFuzzer harness for the replay reader: every input is parsed as a replay
// and, when it parses, written out and parsed again to the same text.
#include "model/Replay.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxReplayBytes) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    Replay replay;
    std::string error;
    if (!parseReplay(text, replay, error)) {
        return 0;
    }
    const std::string written = formatReplay(replay);
    Replay again;
    if (!parseReplay(written, again, error) || formatReplay(again) != written) {
        std::abort();
    }
    return 0;
}
