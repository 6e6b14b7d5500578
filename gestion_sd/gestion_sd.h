// SD card start-up, occupancy, day directories and interval files.
#ifndef GESTION_SD_GESTION_SD_H
#define GESTION_SD_GESTION_SD_H

#include <stdint.h>

void inicializacion_sd();
void creacion_nuevo_directorio();
void creacion_nuevo_fichero(uint8_t ctipo);
// Main-loop SD service: the closing of an interval's raw (0) or wave (1)
// file with its pending record, and the append of a pending record of kind k.
void cierre_fichero_intervalo(uint8_t ctipo);
void escritura_registro_fichero(uint8_t ctipo);

#endif
