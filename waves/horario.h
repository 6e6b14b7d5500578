// The averaging-interval schedule: interval length, start and end of the
// current interval aligned to the clock, and elapsed sensor time.
#ifndef WAVES_HORARIO_H
#define WAVES_HORARIO_H

#include <stdint.h>

extern int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO;
extern uint8_t HHini, MMini, SSini;
extern uint8_t YY_ini, MM_ini, DD_ini;
extern uint8_t HHfin, MMfin, SSfin;

int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio);
void Determinar_Proxima_Hora_Final(uint8_t recalcular);
void Revision_Tiempos();
uint32_t Diferencia_Timespan(int32_t tsIniAux, int32_t tsFinAux);

#endif
