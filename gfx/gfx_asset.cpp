// gfx_asset.cpp -- image assets: descriptor files, decoding, alpha merge, frames
#include "gfx/gfx.h"
