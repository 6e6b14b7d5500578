#include "horario.h"

#include "../declaraciones/declaraciones.h"

int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
uint8_t HHini = 0, MMini = 0, SSini = 0;
uint8_t YY_ini = 0, MM_ini = 0, DD_ini = 0;
uint8_t HHfin = 0, MMfin = 0, SSfin = 0;

// Not built yet.
int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio) { (void)IntPromedio; return 30; }
void Determinar_Proxima_Hora_Final(uint8_t recalcular) { (void)recalcular; }
void Revision_Tiempos() {}
uint32_t Diferencia_Timespan(int32_t tsIniAux, int32_t tsFinAux) { (void)tsIniAux; (void)tsFinAux; return 0; }
