#include "platform/KeyMap.h"

#include "model/Globals.h"

#include <iterator>

namespace {

struct KeyEntry {
    SDL_Scancode scancode;
    int virtualKey;
};

// Keys that do not depend on the keyboard layout. The first entry of a code
// is the key that injection uses for it.
constexpr KeyEntry fixedKeys[] = {
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_LSHIFT, VK_SHIFT},
    {SDL_SCANCODE_RSHIFT, VK_SHIFT},
    {SDL_SCANCODE_LCTRL, VK_CONTROL},
    {SDL_SCANCODE_RCTRL, VK_CONTROL},
    {SDL_SCANCODE_LALT, VK_MENU},
    {SDL_SCANCODE_RALT, VK_MENU},
    {SDL_SCANCODE_PAUSE, 0x13},
    {SDL_SCANCODE_CAPSLOCK, 0x14},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_PAGEUP, VK_PRIOR},
    {SDL_SCANCODE_PAGEDOWN, VK_NEXT},
    {SDL_SCANCODE_END, VK_END},
    {SDL_SCANCODE_HOME, VK_HOME},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_DOWN, VK_DOWN},
    {SDL_SCANCODE_PRINTSCREEN, 0x2C},
    {SDL_SCANCODE_INSERT, VK_INSERT},
    {SDL_SCANCODE_DELETE, VK_DELETE},
    {SDL_SCANCODE_LGUI, 0x5B},
    {SDL_SCANCODE_RGUI, 0x5C},
    {SDL_SCANCODE_APPLICATION, 0x5D},
    {SDL_SCANCODE_KP_0, 0x60},
    {SDL_SCANCODE_KP_1, 0x61},
    {SDL_SCANCODE_KP_2, 0x62},
    {SDL_SCANCODE_KP_3, 0x63},
    {SDL_SCANCODE_KP_4, 0x64},
    {SDL_SCANCODE_KP_5, 0x65},
    {SDL_SCANCODE_KP_6, 0x66},
    {SDL_SCANCODE_KP_7, 0x67},
    {SDL_SCANCODE_KP_8, 0x68},
    {SDL_SCANCODE_KP_9, 0x69},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A},
    {SDL_SCANCODE_KP_PLUS, VK_ADD},
    {SDL_SCANCODE_KP_MINUS, VK_SUBTRACT},
    {SDL_SCANCODE_KP_PERIOD, 0x6E},
    {SDL_SCANCODE_KP_DIVIDE, 0x6F},
    {SDL_SCANCODE_F1, VK_F1},
    {SDL_SCANCODE_F2, VK_F1 + 1},
    {SDL_SCANCODE_F3, VK_F1 + 2},
    {SDL_SCANCODE_F4, VK_F1 + 3},
    {SDL_SCANCODE_F5, VK_F1 + 4},
    {SDL_SCANCODE_F6, VK_F1 + 5},
    {SDL_SCANCODE_F7, VK_F1 + 6},
    {SDL_SCANCODE_F8, VK_F1 + 7},
    {SDL_SCANCODE_F9, VK_F1 + 8},
    {SDL_SCANCODE_F10, VK_F10},
    {SDL_SCANCODE_F11, VK_F1 + 10},
    {SDL_SCANCODE_F12, VK_F1 + 11},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90},
    {SDL_SCANCODE_SCROLLLOCK, 0x91},
};

// Punctuation keys by position (US layout), used when the layout's key
// code is neither a letter nor a digit.
constexpr KeyEntry punctuationKeys[] = {
    {SDL_SCANCODE_SEMICOLON, 0xBA}, {SDL_SCANCODE_EQUALS, 0xBB},
    {SDL_SCANCODE_COMMA, 0xBC},     {SDL_SCANCODE_MINUS, 0xBD},
    {SDL_SCANCODE_PERIOD, 0xBE},    {SDL_SCANCODE_SLASH, 0xBF},
    {SDL_SCANCODE_GRAVE, 0xC0},     {SDL_SCANCODE_LEFTBRACKET, 0xDB},
    {SDL_SCANCODE_BACKSLASH, 0xDC}, {SDL_SCANCODE_RIGHTBRACKET, 0xDD},
    {SDL_SCANCODE_APOSTROPHE, 0xDE}, {SDL_SCANCODE_NONUSBACKSLASH, 0xE2},
};

// The keypad's digit keys with NumLock off act as the cursor block.
int keypadNavigationKey(SDL_Scancode scancode)
{
    switch (scancode) {
    case SDL_SCANCODE_KP_0: return VK_INSERT;
    case SDL_SCANCODE_KP_1: return VK_END;
    case SDL_SCANCODE_KP_2: return VK_DOWN;
    case SDL_SCANCODE_KP_3: return VK_NEXT;
    case SDL_SCANCODE_KP_4: return VK_LEFT;
    case SDL_SCANCODE_KP_5: return 0x0C; // VK_CLEAR
    case SDL_SCANCODE_KP_6: return VK_RIGHT;
    case SDL_SCANCODE_KP_7: return VK_HOME;
    case SDL_SCANCODE_KP_8: return VK_UP;
    case SDL_SCANCODE_KP_9: return VK_PRIOR;
    case SDL_SCANCODE_KP_PERIOD: return VK_DELETE;
    default: return 0;
    }
}

} // namespace

int virtualKeyFor(const SDL_Keysym& key)
{
    if (!(key.mod & KMOD_NUM)) {
        if (int vk = keypadNavigationKey(key.scancode)) {
            return vk;
        }
    }
    for (const KeyEntry& entry : fixedKeys) {
        if (entry.scancode == key.scancode) {
            return entry.virtualKey;
        }
    }
    // Letters and digits follow the layout, as far as it has them.
    if (key.sym >= SDLK_a && key.sym <= SDLK_z) {
        return 'A' + (key.sym - SDLK_a);
    }
    if (key.sym >= SDLK_0 && key.sym <= SDLK_9) {
        return '0' + (key.sym - SDLK_0);
    }
    if (key.scancode >= SDL_SCANCODE_A && key.scancode <= SDL_SCANCODE_Z) {
        return 'A' + (key.scancode - SDL_SCANCODE_A);
    }
    if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9) {
        return '1' + (key.scancode - SDL_SCANCODE_1);
    }
    if (key.scancode == SDL_SCANCODE_0) {
        return '0';
    }
    for (const KeyEntry& entry : punctuationKeys) {
        if (entry.scancode == key.scancode) {
            return entry.virtualKey;
        }
    }
    return 0;
}

bool keyForVirtualKey(int virtualKey, SDL_Scancode& scancode, SDL_Keycode& keycode)
{
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        scancode = static_cast<SDL_Scancode>(SDL_SCANCODE_A + (virtualKey - 'A'));
        keycode = SDLK_a + (virtualKey - 'A');
        return true;
    }
    if (virtualKey >= '0' && virtualKey <= '9') {
        scancode = virtualKey == '0' ? SDL_SCANCODE_0
                                     : static_cast<SDL_Scancode>(SDL_SCANCODE_1 + (virtualKey - '1'));
        keycode = SDLK_0 + (virtualKey - '0');
        return true;
    }
    for (const auto* table : {&fixedKeys[0], &punctuationKeys[0]}) {
        const size_t count = table == fixedKeys ? std::size(fixedKeys) : std::size(punctuationKeys);
        for (size_t i = 0; i < count; ++i) {
            if (table[i].virtualKey == virtualKey) {
                scancode = table[i].scancode;
                keycode = SDL_GetKeyFromScancode(scancode);
                if (keycode == SDLK_UNKNOWN) {
                    keycode = SDL_SCANCODE_TO_KEYCODE(scancode);
                }
                return true;
            }
        }
    }
    return false;
}

SDL_Keymod modifierOf(SDL_Scancode scancode)
{
    switch (scancode) {
    case SDL_SCANCODE_LSHIFT: return KMOD_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return KMOD_RSHIFT;
    case SDL_SCANCODE_LCTRL: return KMOD_LCTRL;
    case SDL_SCANCODE_RCTRL: return KMOD_RCTRL;
    case SDL_SCANCODE_LALT: return KMOD_LALT;
    case SDL_SCANCODE_RALT: return KMOD_RALT;
    default: return KMOD_NONE;
    }
}
