#include "virtual_e2prom.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: the working parameters keep their power-up values.
void escritura_variable_contador_reinicios(uint16_t contador) { (void)contador; }
uint16_t lectura_variable_contador_reinicios() { return 0; }
void escritura_variable_porcentaje_SD(uint8_t valor) { (void)valor; }
uint8_t lectura_variable_porcentaje_SD() { return 0; }
void escritura_variable_contador_reinicios_24H(uint16_t contador) { (void)contador; }
uint16_t lectura_variable_contador_reinicios_24H() { return 0; }
void escritura_variable_contador_reinicios_24H_DIA(uint8_t valor) { (void)valor; }
uint8_t lectura_variable_contador_reinicios_24H_DIA() { return 0; }
void escritura_variable_permitir_escritura_SD(uint8_t valor) { (void)valor; }
uint8_t lectura_variable_permitir_escritura_SD() { return 1; }
void escritura_variable_contador_Ficheros(uint16_t contador) { (void)contador; }
uint16_t lectura_variable_contador_Ficheros() { return 0; }
void escritura_variable_Tope_Maximo_Ficheros(uint16_t contador) { (void)contador; }
uint16_t lectura_variable_Tope_Maximo_Ficheros() { return 100; }
void escritura_variable_permitir_ajuste_reloj(uint8_t valor) { (void)valor; }
uint8_t lectura_variable_permitir_ajuste_reloj() { return 1; }
void escritura_variable_Velocidad_Reloj(uint16_t valor) { (void)valor; }
uint16_t lectura_variable_Velocidad_Reloj() { return 48000; }
void escritura_variable_Baudrate_TOV(uint8_t valor) { (void)valor; }
uint8_t lectura_variable_Baudrate_TOV() { return 5; }
void escritura_variables() {}
void grabacion_parametros_por_defecto() {}
void lectura_de_variables() {}
void revision_lectura_variables() {}
int32_t transformacion_Baudrate_TOV(uint8_t valor) { (void)valor; return 38400; }
uint8_t Establecer_Baudrate_TOV() { return 0; }
void grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(uint8_t nTelemando) { (void)nTelemando; }
