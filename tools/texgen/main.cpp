// velto-texgen OUTDIR: writes the game's texture set into OUTDIR.
#include "Art.h"

#include <cstdio>
#include <filesystem>

using namespace texgen;

namespace {

bool writeSprite(const std::string& dir, const char* name, const Canvas& c)
{
    std::string base = dir + "/" + name;
    return writeJpeg(base + ".jpg", c.w, c.h, 3, c.rgb8(), 94) &&
           writeJpeg(base + "_alpha.jpg", c.w, c.h, 1, c.alpha8(), 94);
}

bool writeOpaque(const std::string& dir, const char* name, const Canvas& c)
{
    return writeJpeg(dir + "/" + name + ".jpg", c.w, c.h, 3, c.rgb8(), 92);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velto-texgen OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    bool ok = writeSprite(dir, "kolo", paintWheel()) && writeSprite(dir, "apple", paintApple()) &&
              writeOpaque(dir, "ground", paintGround()) && writeOpaque(dir, "sky", paintSky()) &&
              writeSprite(dir, "bike", paintBike()) && writeSprite(dir, "spring", paintSpring()) &&
              writeSprite(dir, "finish", paintFinish());
    if (ok) {
        Canvas border = paintBorder();
        ok = writeBmp24(dir + "/border.bmp", border.w, border.h, border.rgb8());
    }
    if (!ok) {
        std::fprintf(stderr, "velto-texgen: cannot write the textures into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
