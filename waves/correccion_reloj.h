// Clock-rate correction: the tick period tuned against sensor and GPS time.
#ifndef WAVES_CORRECCION_RELOJ_H
#define WAVES_CORRECCION_RELOJ_H

#include <stdint.h>

void Correccion_Reloj_porWaves();

#endif
