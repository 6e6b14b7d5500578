// SD card start-up, occupancy, day directories and interval files.
#ifndef GESTION_SD_GESTION_SD_H
#define GESTION_SD_GESTION_SD_H

#include <stdint.h>

#include "../plataforma/sd/SdFat.h"

// The card, its raw access (used by the formatter) and the three current files.
extern SdFat miSD;
extern Sd2Card card;
extern File ffichero_raw, ffichero_wav, ffichero_res;

// Occupancy from which no new day directory is made.
#define CTE_LIMITE_MAX_USO_SD 99
// Attempts at a directory or a file before the request is dropped.
#define MAX_INTENTOS_CREACION 20

extern uint8_t cbytes_nombre_fichero;

// Whether a file of that path is on the card (an empty path: no file).
bool existe_fichero_tarjeta(const String &ruta);

void inicializacion_sd();
uint8_t espacio_ocupado_SD();
void creacion_nuevo_directorio();
void recuperar_fichero_RES_si_existe();
void creacion_nuevo_fichero(uint8_t ctipo);
// Main-loop SD service: the closing of an interval's raw (0) or wave (1)
// file with its pending record, and the append of a pending record of kind k.
void cierre_fichero_intervalo(uint8_t ctipo);
void escritura_registro_fichero(uint8_t ctipo);
// A card that stopped answering after a failed operation is started again by
// the SD service (see gestion_sd.cpp).
void comprobar_tarjeta_tras_fallo();
// Closes the open raw and wave files (SD writing withdrawn, card started again).
void cierre_ficheros_intervalo_abiertos();

// Name building at pctrama[cbytes_nombre_fichero]; each call advances the
// position. tam is the size of the array: characters that would not leave
// room for the terminator are dropped.
void inserto_bytes(char *pctrama, char cdato, uint8_t tam);
void inserto_variable(char *pctrama, uint32_t laux, uint8_t cnumero_cifras, uint8_t tam);
void inserto_mensaje(char *pctrama, const char *pcmensaje, uint8_t tam);

#endif
