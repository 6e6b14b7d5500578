// TEMPORARY until the wave analysis and the card logging are merged.
#pragma once
#include <stdint.h>
extern uint8_t dd_ola, mm_ola, yy_ola, HH_ola, MM_ola;
extern uint8_t ctam_trama_promedio;
#define CTE_TAM_TRAMA_RES 78
extern uint8_t resSdOk;
extern uint8_t CTE_BORRAR_SD;
void Formatear_SD();
