#include "platform/KeySources.h"

#include "model/Globals.h"

#include <cstdint>

namespace {

// One bit per source, for every virtual-key code.
uint32_t holders[256] = {};

bool valid(int source, int virtualKey)
{
    return source >= 0 && source < KeySourceCount && virtualKey > 0 && virtualKey < 256;
}

uint32_t bitOf(int source)
{
    return uint32_t{1} << source;
}

} // namespace

void pressKey(int source, int virtualKey)
{
    if (!valid(source, virtualKey)) {
        return;
    }
    holders[virtualKey] |= bitOf(source);
    keyDown[virtualKey] = true;
}

void releaseKey(int source, int virtualKey)
{
    if (!valid(source, virtualKey)) {
        return;
    }
    holders[virtualKey] &= ~bitOf(source);
    if (holders[virtualKey] == 0) {
        keyDown[virtualKey] = false;
    }
}

void releaseSource(int source)
{
    for (int vk = 1; vk < 256; ++vk) {
        if (sourceHolds(source, vk)) {
            releaseKey(source, vk);
        }
    }
}

bool sourceHolds(int source, int virtualKey)
{
    return valid(source, virtualKey) && (holders[virtualKey] & bitOf(source)) != 0;
}

void forgetKeySources()
{
    for (auto& h : holders) {
        h = 0;
    }
}
