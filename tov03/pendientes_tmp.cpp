// TEMPORARY until the wave analysis and the card logging are merged.
#include "pendientes_tmp.h"
uint8_t dd_ola = 0, mm_ola = 0, yy_ola = 0, HH_ola = 0, MM_ola = 0;
uint8_t ctam_trama_promedio = 0;
uint8_t resSdOk = 2;
uint8_t CTE_BORRAR_SD = 0;
void Formatear_SD() {}
