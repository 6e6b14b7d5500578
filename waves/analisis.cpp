#include "analisis.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: samples are not analysed.
void ProcesarTernaDatos() {}
