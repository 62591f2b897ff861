// Drawing of apples: a textured square in the game, an outline circle with
// a letter in the editor. The outline circle also shows the bike's wheels
// and head in the editor.

#include "gfx/DisplayLists.h"
#include "gfx/Text.h"
#include "model/Apple.h"

#include <GL/gl.h>

#include <cmath>

unsigned int appleList = 0;

void drawCircle(const Cvector& centre, double radius)
{
    glBegin(GL_LINE_LOOP);
    for (int i = 1; i <= 16; ++i) {
        const double a = i * kPi / 8.0;
        glVertex2d(centre.x + radius * std::cos(a), centre.y + radius * std::sin(a));
    }
    glEnd();
}

void drawApple(const Capples* apple, bool textured)
{
    if (apple == nullptr) {
        return;
    }
    if (!textured) {
        drawCircle(*apple, kAppleRadius);
        printText("A", true, apple->x, apple->y - 12.0, 50.0);
        return;
    }
    drawTexturedApple(*apple);
}

void drawTexturedApple(const Cvector& centre)
{
    if (appleList == 0) {
        appleList = glGenLists(1);
        glNewList(appleList, GL_COMPILE);
        texturedSquare();
        glEndList();
    }
    glPushMatrix();
    glTranslatef(static_cast<GLfloat>(centre.x), static_cast<GLfloat>(centre.y), 0.0f);
    glScalef(20.0f, 20.0f, 0.0f);
    glCallList(appleList);
    glPopMatrix();
}

void drawApples(const Capples* list, bool textured)
{
    for (const Capples* a = list; a != nullptr; a = a->next) {
        drawApple(a, textured);
    }
}
