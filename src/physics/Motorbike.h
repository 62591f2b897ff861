// Cmoto: the rider's machine. The inherited Cball fields are the frame
// (radius 0, never touches anything); it owns two wheel balls on sprung,
// damped suspension and a head ball fixed to the frame.
//
// The wheel in the frontWheel slot is always the one on the side the bike
// faces; a turn-around swaps the two objects. Frame-relative x offsets are
// multiplied by `facing`.
#pragma once

#include "physics/Balls.h"

#include <atomic>
#include <cstdint>

// +1 when the bike faces right, -1 when it faces left. Written by the
// physics step, read by the drawing.
extern std::atomic<int32_t> facing;

class Cmoto : public Cball {
public:
    Cball* frontWheel = nullptr;   // owned
    Cball* rearWheel = nullptr;    // owned
    Cball* head = nullptr;         // owned

    // A bike at rest with its frame at (x, y), wheels at their rest centres
    // for the current `facing`, head at (0, 0) until placed.
    Cmoto(double x, double y);
    Cmoto(const Cmoto&) = delete;
    Cmoto& operator=(const Cmoto&) = delete;
    ~Cmoto();

    // The editor's placement: ignores facing and angle, changes no velocity.
    void setPosition(double x, double y);
    // Puts the head on the frame.
    void placeHead();
    // One step of suspension and gravity on frame and wheels.
    void applySprings();
    // The suspension of one wheel: changes that wheel's velocity, adds to
    // acc and subtracts from torque.
    void springForce(bool front, Cvector& acc, double& torque);
    // Front wheel, rear wheel, then head touch an edge of the list.
    bool touchesPolygons(const Cpolygons* list) const;
    // Copies m slot by slot (never exchanges this bike's wheel objects).
    void assign(const Cmoto& m);

    // GL drawing; defined in gfx. The frame and springs follow `facing`, or
    // `side` (+1 or -1) where it is given, for a bike that is not simulated.
    void drawFrame() const;
    void drawFrame(int32_t side) const;
    void drawWheels() const;
    void drawSprings() const;
    void drawSprings(int32_t side) const;
    void drawSpring(bool front) const;
    void drawSpring(bool front, int32_t side) const;
};
