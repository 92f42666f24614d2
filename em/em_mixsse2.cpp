// em_mixsse2.cpp -- the mixing runs in four 32-bit lanes, at the x86-64
// baseline that every such processor has
#if defined(__x86_64__)
#define EM_LANES 4
#include "em/em_mixlanes.h"

const em_runs em_sse2runs = EM_LANERUNS;
#endif
