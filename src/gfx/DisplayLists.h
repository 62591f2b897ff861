// Display lists of the shapes drawn by the model's drawing operations. Each
// id is 0 until its list is compiled on first use; the game deletes and
// resets them at the start and end of a game mode.
#pragma once

extern unsigned int ballList;    // textured unit square of a ball
extern unsigned int appleList;   // textured apple square
extern unsigned int frameList;   // the bike picture
extern unsigned int springList;  // one suspension spring

// Draws the unit square (-1, -1)..(1, 1) as one quad with the whole texture
// on it: texture (0, 0) at (-1, -1), (1, 0) at (1, -1), (1, 1) at (1, 1),
// (0, 1) at (-1, 1). The body of the ball, apple, frame and spring lists.
void texturedSquare();
