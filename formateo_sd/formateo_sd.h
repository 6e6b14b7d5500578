// Card formatter: erase and format the SD card FAT16 or FAT32 on command.
#ifndef FORMATEO_SD_FORMATEO_SD_H
#define FORMATEO_SD_FORMATEO_SD_H

#include <stdint.h>

// 1: erase the card before formatting it.
extern uint8_t CTE_BORRAR_SD;

// The layout worked out for the card, kept after the format.
extern uint32_t cardSizeBlocks;
extern uint32_t cardCapacityMB;
extern uint8_t sectorsPerCluster;
extern uint8_t sectorsPerTrack;
extern uint8_t numberOfHeads;
extern uint32_t relSector;
extern uint32_t partSize;
extern uint8_t partType;
extern uint16_t reservedSectors;
extern uint32_t fatStart;
extern uint32_t fatSize;
extern uint32_t dataStart;

void Formatear_SD();
void eraseCard();
void formatCard();
void initSizes();
void makeFat16();
void makeFat32();
void writeMbr();
void clearFatDir(uint32_t bgn, uint32_t count);
void clearCache(uint8_t addSig);
bool writeCache(uint32_t lbn);
uint16_t lbnToCylinder(uint32_t lbn);
uint8_t lbnToHead(uint32_t lbn);
uint8_t lbnToSector(uint32_t lbn);
uint32_t volSerialNumber();
[[noreturn]] void sdErrorHalt();

#endif
