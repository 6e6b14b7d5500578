// Records are built character by character into the fixed text buffers, and
// fixed-width numbers and the start-up banner are written to the console.
#ifndef COMUNICACIONES_PC_COMUNICACIONES_PC_H
#define COMUNICACIONES_PC_COMUNICACIONES_PC_H

#include <stdint.h>

// Terminators of the number helpers.
#define FIN_NADA 0
#define FIN_LINEA 1
#define FIN_COMA 44
#define FIN_GUION_BAJO 95

void inserto_caracter_buffer(char *pcbuffer, char ccaracter, uint8_t ctipo);
void insertamos_mensaje_buffer(char *pcbuffer, const char *pcmensaje, uint8_t ctipo);
void insertamos_variable_buffer(char *pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                uint8_t ctipo);
void insertamos_variable_hex_buffer(char *pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                    uint8_t ctipo);
void insertamos_variable_float_buffer_v02(char *pcbuffer, float fvalor, uint8_t cnumero_cifras,
                                          uint8_t cnumero_decimales, char ccaracter_final, uint8_t ctipo);
uint8_t comparacion(uint32_t iinicio, char *pctrama_comparar, const char *pctrama_comparada,
                    uint8_t clongitud_comparada);
void linea();
void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea);
void mensaje_bienvenida();

// Capacity in bytes of the buffer of a kind (0 raw ... 4 copy of the last summary frame).
uint32_t capacidad_buffer(uint8_t ctipo);

#endif
