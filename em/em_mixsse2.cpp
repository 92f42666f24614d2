// em_mixsse2.cpp -- the mixing runs in four 32-bit lanes, at the x86-64
// baseline that every such processor has
#if defined(__x86_64__)
#define EM_LANES 4
#include "em/em_mixlanes.h"

// The runs of this instruction set, for em_mixruns.
const em_runs em_sse2runs = {{em_lanemono, em_lanestereo},
                             {em_lanemonostep, em_lanestereostep},
                             {em_laneramp<1>, em_laneramp<2>},
                             {em_laneheads<1>, em_laneheads<2>}};
#endif
