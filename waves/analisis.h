// Wave analysis: segmentation, per-wave parameters, direction and interval statistics.
#ifndef WAVES_ANALISIS_H
#define WAVES_ANALISIS_H

#include <stdint.h>

// Per-sample driver, called once the window is full.
void ProcesarTernaDatos();

#endif
