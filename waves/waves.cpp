#include "waves.h"

#include "../declaraciones/declaraciones.h"

uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;

// Not built yet: there is no wave analysis and no reset accounting.
void Inicializar() {}
void Revision_Resets_24h() { cRevision_Resets_24h = 0; }
