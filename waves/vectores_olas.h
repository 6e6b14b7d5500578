// Helpers shared by the per-wave and interval computations.
#ifndef WAVES_VECTORES_OLAS_H
#define WAVES_VECTORES_OLAS_H

#include <stdint.h>

// Stores the value of wave nOlas in its array and grows the array to room for
// one more wave; on a failed growth the old block stays and the error line is
// traced. With mostrar 1 the stored element is traced with its label.
void guardar_en_vector_olas(uint16_t **pvector, uint32_t *pelementos, uint16_t valor, const char *etiqueta,
                            const char *error, uint8_t mostrar);
// The ".wav" record of wave nOlas in cbuffer_wav, and its write request when
// the wave file is open.
void Construir_Registro_Wav(uint16_t Altura, uint16_t Periodo, uint32_t NumPtosOla, uint16_t Dir_MetVel,
                            uint16_t Dir_MetDer, uint16_t Heading, uint16_t Align);
// A line of 187 "=" on the debug console.
void linea_igual_187();

#endif
