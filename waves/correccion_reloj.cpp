#include "correccion_reloj.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: the tick keeps its period.
void Correccion_Reloj_porWaves() {}
