// The project's one version number, shared by the game, its tools and the
// server, and the `--version` answer they all give.
#pragma once

#include <string>

// "0.9.0": the project version the build was configured with.
const char* veltoVersion();

// True when the command line is exactly `PROGRAM --version`.
bool asksForVersion(int argc, const char* const* argv);

// The line `PROGRAM --version` prints: "velto-sim 0.9.0\n".
std::string versionLine(const std::string& program);
