// The processed-sample record: one line per sample in the raw file.
#ifndef WAVES_REGISTRO_RAW_H
#define WAVES_REGISTRO_RAW_H

#include <stdint.h>

// Builds the record of the middle sample of the window in cbuffer_raw and,
// when the raw file is in use, asks the main loop to append it.
void Guardar_Datos_Procesados_RAW();

#endif
