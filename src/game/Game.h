// The game mode's world, textures, cached display lists and scene.
//
// Main thread only, with the render window's GL context current where GL is
// touched. The world itself (bikes, polygons, apples, finish, border, best
// time) lives in physics/World.h; this unit builds it for a run, draws it,
// and keeps the track's best time in the track file.
#pragma once

#include "gfx/GLBMP.h"

#include <string>

// The game's textures (loaded once per game mode by loadTextureSet).
extern TGLBMP* wheelTexture;
extern TGLBMP* appleTexture;
extern TGLBMP* groundTexture;
extern TGLBMP* skyTexture;
extern TGLBMP* bikeTexture;
extern TGLBMP* springTexture;
extern TGLBMP* finishTexture;
extern TGLBMP* borderTexture;

// Display lists compiled by the scene on first use; 0 while not compiled.
extern unsigned int skyList;
extern unsigned int groundList;
extern unsigned int borderList;
extern unsigned int barList;

// World point drawn at the window centre.
struct CameraCentre {
    double x = 0.0;
    double y = 0.0;
};
extern CameraCentre cameraCentre;

// Whole game mode: tessellator, display lists reset, world of the first run,
// textures, and the one-unit-per-pixel projection (set even on failure).
bool initGame();
// Frees the world, the textures, the lists and the tessellator.
void doneGame();

// The world of one run from the track file at trackPath. On failure the
// player has been told and nothing is built.
bool setupWorld();

// A track's name as the player sees it: its file name without ".vlt".
std::string trackNameOf(const std::string& path);

// Makes `path` the track of the following runs: the next setupWorld reads
// it, and the ground's display list is compiled anew from it.
void switchTrack(const std::string& path);

// Writes `time` (days) as the track's best time. When the file cannot be
// written the player is told and false returns; the game goes on.
bool writeBestTime(double time);

// Sky, world and top bar. Called inside sceneLock.
void drawScene();

// "no apples left", "1 apple left", "N apples left".
std::string applesLeftText(int count);

// The texture table in order, stopping at the first failure.
bool loadTextureSet();
// One texture: the object is stored in `texture` at once, so freeTextureSet
// frees it even when loading fails. `alphaFile` may be empty.
bool loadGameTexture(TGLBMP*& texture, const std::string& imageFile, const std::string& alphaFile,
                     unsigned int wrap);
void freeTextureSet();
// Deletes the eight cached display lists and sets their ids to 0.
void deleteGameLists();
