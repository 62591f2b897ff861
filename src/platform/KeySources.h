// keyDown has more than one source: the keyboard and every attached game
// controller. A key is down while any source holds it. A source pressing a
// key sets its entry; a source letting go clears it only when no other
// source still holds the key, so a controller's release never lets go of a
// key the keyboard holds, nor the other way round.
//
// The modes still clear entries themselves (a pause releases every key);
// such a key stays up until a source presses it again, just as a keyboard
// key stays up until its next auto-repeat. A release never sets a key.
//
// Main thread only; keyDown itself is read from the physics thread too.
#pragma once

// Sources are small numbers: the keyboard, then one per controller.
enum : int { KeyboardSource = 0, FirstControllerSource = 1, KeySourceCount = 32 };

// `virtualKey` outside 1..255 or `source` outside 0..KeySourceCount-1 is ignored.
void pressKey(int source, int virtualKey);
void releaseKey(int source, int virtualKey);
// Lets go of every key `source` holds (a controller pulled out).
void releaseSource(int source);
bool sourceHolds(int source, int virtualKey);
// Forgets who holds what, leaving keyDown as it is: where keyDown is
// cleared because releases may never come (a focus loss) or no press so far
// counts (the start of a game), the sources start afresh too.
void forgetKeySources();
