// Drawing of a ball: a textured square turned by the ball's angle.

#include "gfx/DisplayLists.h"
#include "physics/Balls.h"

#include <GL/gl.h>

unsigned int ballList = 0;

void Cball::drawBall() const
{
    if (ballList == 0) {
        ballList = glGenLists(1);
        glNewList(ballList, GL_COMPILE);
        texturedSquare();
        glEndList();
    }
    glPushMatrix();
    glTranslatef(static_cast<GLfloat>(position.x), static_cast<GLfloat>(position.y), 0.0f);
    glRotatef(static_cast<GLfloat>(angle), 0.0f, 0.0f, 1.0f);
    glScalef(static_cast<GLfloat>(radius), static_cast<GLfloat>(radius), 0.0f);
    glCallList(ballList);
    glPopMatrix();
}
