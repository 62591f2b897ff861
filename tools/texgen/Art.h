// The pictures of the game's texture set.
#pragma once

#include "Canvas.h"

namespace texgen {

Canvas paintWheel();
Canvas paintApple();
Canvas paintGround();
Canvas paintSky();
Canvas paintBike();
Canvas paintSpring();
Canvas paintFinish();
Canvas paintBorder();

} // namespace texgen
