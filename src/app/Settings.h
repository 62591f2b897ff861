// The start-up dialog's settings file: 7 bytes, little-endian, no header.
//   offset 0  u16  width      offset 2  u16  height     offset 4  u8  bits
//   offset 5  u8   show FPS (0/1)                        offset 6  u8  full screen (0/1)
#pragma once

#include <cstdint>
#include <string>

struct MenuSettings {
    uint16_t width = 800;
    uint16_t height = 600;
    uint8_t bits = 32;
    bool showFPS = false;
    bool fullscreen = false;
};

inline constexpr const char* settingsFileName = "Velto.dat";

// Reads the file at `path`, which must open for reading and writing (a
// read-only file counts as missing). False, with `settings` untouched, when
// it cannot be opened or holds fewer than 7 bytes.
bool readSettings(const std::string& path, MenuSettings& settings);
// Creates or truncates the file and writes the 7 bytes. False on any error.
bool writeSettings(const std::string& path, const MenuSettings& settings);

// Decimal text to a 32-bit integer: optional leading blanks, an optional
// sign, then digits only. False for anything else or a value out of range.
bool textToInt(const std::string& text, int32_t& value);
// "'<text>' is not a valid integer value"
std::string notIntegerMessage(const std::string& text);
