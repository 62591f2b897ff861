#include "model/Version.h"

#include <cstring>

#ifndef VELTO_VERSION
#error "VELTO_VERSION is set by the build"
#endif

const char* veltoVersion()
{
    return VELTO_VERSION;
}

bool asksForVersion(int argc, const char* const* argv)
{
    return argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "--version") == 0;
}

std::string versionLine(const std::string& program)
{
    return program + " " + veltoVersion() + "\n";
}
