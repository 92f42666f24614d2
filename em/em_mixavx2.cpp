// em_mixavx2.cpp -- the mixing runs in eight 32-bit lanes; built with AVX2
// and called only where the processor has it (em_mixruns)
#if defined(__x86_64__)
#define EM_LANES 8
#include "em/em_mixlanes.h"

// The runs of this instruction set, for em_mixruns.
const em_runs em_avx2runs = {{em_lanemono, em_lanestereo},
                             {em_lanemonostep, em_lanestereostep},
                             {em_laneramp<1>, em_laneramp<2>},
                             {em_laneheads<1>, em_laneheads<2>}};
#endif
