#include "tov03.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: received command frames are dropped.
void procesamos_trama_tov03() {}
