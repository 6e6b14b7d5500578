// TEMPORARY until the other modules are merged.
#pragma once
#include <stdint.h>
extern uint8_t dd_ola, mm_ola, yy_ola, HH_ola, MM_ola;
extern uint8_t ctam_trama_promedio;
#define CTE_TAM_TRAMA_RES 78
extern int32_t Tiempo_Resta;
extern uint8_t resSdOk;
extern uint8_t CTE_BORRAR_SD;
void Formatear_SD();
uint32_t busqueda_campo(uint8_t ccampo_buscado, char *pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final);
uint32_t extraccion_dato_nmea(uint8_t ccampo, char *pctrama, uint32_t ini, uint32_t fin, uint8_t *pcvacio);
uint8_t comprobacion_checksum_nmea(char *pctrama, uint32_t iposicion_inicio, uint32_t iposicion_final);
