// gfx_shot.cpp -- TGA writer and screenshots of the window
#include "gfx/gfx.h"
