// Wave analysis, averaging schedule, clock-rate correction and reset accounting.
#ifndef WAVES_WAVES_H
#define WAVES_WAVES_H

#include <stdint.h>

#include "analisis.h"
#include "correccion_reloj.h"
#include "horario.h"
#include "muestras.h"

extern uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET;
// Count of good GPS fixes; the daily review sets it to 2 on a new day.

void Inicializar();
uint16_t Actualizar_Numero_Reinicios();
void Revision_Resets_24h();

#endif
