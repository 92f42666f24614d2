// capi_c.c -- the public headers read by a C compiler (built as C99 and as C11 with
// -pedantic): the table of their constants and layouts as C sees them
#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"

#include "capi_c.h"

const capi_item CAPI_TABLE[] = {CAPI_ITEMS};
