// Card formatter: erase and format the SD card FAT16 or FAT32 on command.
#ifndef FORMATEO_SD_FORMATEO_SD_H
#define FORMATEO_SD_FORMATEO_SD_H

#include <stdint.h>

// 1: erase the card before formatting it.
extern uint8_t CTE_BORRAR_SD;

void Formatear_SD();

#endif
