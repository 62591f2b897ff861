// Apples: the collectables of a track, a doubly linked list.
//
// A Capples owns its `next`: deleting the first apple deletes the list
// (iteratively). Every apple has radius 20.
#pragma once

#include "model/Vectors.h"

#include <cstdint>

class Cball;

inline constexpr double kAppleRadius = 20.0;

class Capples : public Cvector {
public:
    Capples* next = nullptr;
    Capples* prev = nullptr;

    Capples() = default;
    Capples(double ax, double ay) : Cvector(ax, ay) {}
    Capples(const Capples&) = delete;
    Capples& operator=(const Capples&) = delete;
    ~Capples();
};

// Removes and frees every apple whose centre is closer than ball.radius + 20
// to the ball's centre, subtracts one from `count` for each, and returns the
// list's first apple afterwards (none when all are gone).
Capples* collectApples(Capples* list, const Cball& ball, int32_t& count);

// GL drawing of apples; defined in gfx.
void drawCircle(const Cvector& centre, double radius);
void drawApple(const Capples* apple, bool textured);
void drawApples(const Capples* list, bool textured);
// The game's apple (drawApple textured) at `centre`.
void drawTexturedApple(const Cvector& centre);
