// Clock-rate correction: the tick period tuned against sensor and GPS time.
#ifndef WAVES_CORRECCION_RELOJ_H
#define WAVES_CORRECCION_RELOJ_H

#include <stdint.h>

// Tick period limits, in counts of the 48 MHz clock.
#define VELOCIDAD_RELOJ_NOMINAL 48000
#define VELOCIDAD_RELOJ_MINIMA 46500
#define VELOCIDAD_RELOJ_MAXIMA 49500

// State of the correction (CTE_AJUSTE_RELOJ, CTE_VELOCIDAD_RELOJ and
// CONT_TIEMPO_MICRO_ACUMULADO are declared with the shared globals).
extern uint8_t Tiempo_Ajustar_Hora;
extern uint8_t Tiempo_Capturar_Hora_Inicial;
extern uint8_t Tiempo_Revision_Hora_GPS;
extern uint32_t CONT_TIEMPO_MICRO_FINAL;
extern int32_t Tiempo_SBG_Ini, Tiempo_SBG_Fin, Tiempo_SBG_Diferencia;
extern double Tiempo_Calculo;
// Previous good GPS fix (day 0: none yet) and the internal clock read at the
// current one, before the clock was set from it.
extern uint8_t cdia_gps_anterior, chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior;
extern uint8_t cdia_comparativa, chora_comparativa, cminuto_comparativa, csegundo_comparativa;
extern int32_t Tiempo_Diferencia_gps;
extern int32_t Tiempo_Diferencia_Comparativa;
extern int32_t Tiempo_Resta;

// Called for every complete sensor sample while the correction is enabled.
void Correccion_Reloj_porWaves();

#endif
