#include "formateo_sd.h"

#include "../declaraciones/declaraciones.h"

uint8_t CTE_BORRAR_SD = 0;

// Not built yet: the card is not touched.
void Formatear_SD() {}
