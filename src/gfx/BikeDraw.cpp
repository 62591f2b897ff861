// Drawing of the motorbike: the frame picture, the two wheels and the two
// suspension springs, each with the texture the caller has bound.

#include "gfx/DisplayLists.h"
#include "physics/Motorbike.h"

#include <GL/gl.h>

unsigned int frameList = 0;
unsigned int springList = 0;

namespace {

// Half size of the bike picture (254/3 by 184/3) and the lift of its centre
// above the frame's reference point (95/3), as single-precision floats.
constexpr GLfloat kFrameHalfWidth = 84.666664f;
constexpr GLfloat kFrameHalfHeight = 61.333332f;
constexpr GLfloat kFrameLift = 31.666666f;

// Spring anchors on the frame, before the facing is applied.
constexpr double kFrontAnchorX = 43.0;
constexpr double kFrontAnchorY = 16.0;
constexpr double kRearAnchorX = -28.0 / 3.0;
constexpr double kRearAnchorY = -53.0 / 3.0;

} // namespace

void Cmoto::drawFrame() const
{
    drawFrame(facing.load());
}

void Cmoto::drawFrame(int32_t side) const
{
    if (frameList == 0) {
        frameList = glGenLists(1);
        glNewList(frameList, GL_COMPILE);
        glScalef(kFrameHalfWidth, kFrameHalfHeight, 0.0f);
        texturedSquare();
        glEndList();
    }
    glPushMatrix();
    glTranslatef(static_cast<GLfloat>(position.x), static_cast<GLfloat>(position.y), 0.0f);
    glRotatef(static_cast<GLfloat>(angle), 0.0f, 0.0f, 1.0f);
    glTranslatef(0.0f, kFrameLift, 0.0f);
    glScalef(static_cast<GLfloat>(side), 1.0f, 0.0f);
    glCallList(frameList);
    glPopMatrix();
}

void Cmoto::drawWheels() const
{
    frontWheel->drawBall();
    rearWheel->drawBall();
}

void Cmoto::drawSprings() const
{
    drawSprings(facing.load());
}

void Cmoto::drawSprings(int32_t side) const
{
    drawSpring(true, side);
    drawSpring(false, side);
}

void Cmoto::drawSpring(bool front) const
{
    drawSpring(front, facing.load());
}

void Cmoto::drawSpring(bool front, int32_t sideSign) const
{
    if (springList == 0) {
        springList = glGenLists(1);
        glNewList(springList, GL_COMPILE);
        texturedSquare();
        glEndList();
    }
    const Cball* wheel = front ? frontWheel : rearWheel;
    const double side = static_cast<double>(sideSign);
    Cvector anchor = front ? Cvector(kFrontAnchorX * side, kFrontAnchorY)
                           : Cvector(kRearAnchorX * side, kRearAnchorY);
    anchor.rotate(angle);
    anchor.add(position);
    Cvector s(wheel->position);
    s.subtract(anchor);
    const double len = s.length();
    const double turn = s.angle();
    Cvector mid(s);
    mid.scale(0.5);
    mid.add(anchor);

    glPushMatrix();
    glTranslatef(static_cast<GLfloat>(mid.x), static_cast<GLfloat>(mid.y), 0.0f);
    glRotatef(static_cast<GLfloat>(turn), 0.0f, 0.0f, 1.0f);
    glScalef(5.0f, static_cast<GLfloat>(len / 2.0), 0.0f);
    glCallList(springList);
    glPopMatrix();
}
