// em_mixavx2.cpp -- the mixing runs in eight 32-bit lanes; built with AVX2
// and called only where the processor has it (em_mixruns)
#if defined(__x86_64__)
#define EM_LANES 8
#include "em/em_mixlanes.h"

const em_runs em_avx2runs = EM_LANERUNS;
#endif
