// Parameter store: the 32-byte persistent image of settings and counters,
// its defaults, its load checks and the per-value operations.
#ifndef VIRTUAL_E2PROM_VIRTUAL_E2PROM_H
#define VIRTUAL_E2PROM_VIRTUAL_E2PROM_H

#include <stdint.h>

// Positions in the image.
#define POS_HORAS_SINCRONIZACION_GPS 0
#define POS_ALTURA_MINIMA 1
#define POS_ALTURA_MAXIMA 3
#define POS_PERIODO_MINIMO 5
#define POS_PERIODO_MAXIMO 6
#define POS_INTERVALO_PROMEDIO 7
#define POS_FRECUENCIA_MUESTREO 8
#define POS_SENSOR_CON_GPS 9
#define POS_IMPACTO_LEVE 10
#define POS_IMPACTO_MEDIO 11
#define POS_IMPACTO_GRAVE 12
#define POS_CANALES_SENSOR 13
#define POS_FACTOR_DIRECCION 15
#define POS_METODO_DIRECCION 16
#define POS_CONTADOR_REINICIOS 17
#define POS_PORCENTAJE_SD 19
#define POS_REINICIOS_24H 20
#define POS_REINICIOS_24H_DIA 22
#define POS_PERMITIR_ESCRITURA_SD 23
#define POS_CONTADOR_FICHEROS 24
#define POS_TOPE_FICHEROS 26
#define POS_PERMITIR_AJUSTE_RELOJ 28
#define POS_VELOCIDAD_RELOJ 29
#define POS_BAUDRATE_TOV 31

// The two-byte writes store any value above this one as 0.
#define TOPE_ESCRITURA_DOS_BYTES 65530u

void escritura_variable_contador_reinicios(uint16_t contador);
uint16_t lectura_variable_contador_reinicios();
void escritura_variable_porcentaje_SD(uint8_t valor);
uint8_t lectura_variable_porcentaje_SD();
void escritura_variable_contador_reinicios_24H(uint16_t contador);
uint16_t lectura_variable_contador_reinicios_24H();
void escritura_variable_contador_reinicios_24H_DIA(uint8_t valor);
uint8_t lectura_variable_contador_reinicios_24H_DIA();
void escritura_variable_permitir_escritura_SD(uint8_t valor);
uint8_t lectura_variable_permitir_escritura_SD();
void escritura_variable_contador_Ficheros(uint16_t contador);
uint16_t lectura_variable_contador_Ficheros();
void escritura_variable_Tope_Maximo_Ficheros(uint16_t contador);
uint16_t lectura_variable_Tope_Maximo_Ficheros();
void escritura_variable_permitir_ajuste_reloj(uint8_t valor);
uint8_t lectura_variable_permitir_ajuste_reloj();
void escritura_variable_Velocidad_Reloj(uint16_t valor);
uint16_t lectura_variable_Velocidad_Reloj();
void escritura_variable_Baudrate_TOV(uint8_t valor);
uint8_t lectura_variable_Baudrate_TOV();

void escritura_variables();
void grabacion_parametros_por_defecto();
void lectura_de_variables();
void revision_lectura_variables();
int32_t transformacion_Baudrate_TOV(uint8_t valor);
uint8_t Establecer_Baudrate_TOV();
void grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(uint8_t nTelemando);

#endif
