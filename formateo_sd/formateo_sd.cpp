// The card formatter: an optional flash erase, then a master boot record with
// one primary partition and a FAT16 (standard capacity) or FAT32 (high
// capacity) volume with its data area aligned to the card's erase units.
#include "formateo_sd.h"

#include <string.h>

#include "../declaraciones/declaraciones.h"
#include "../gestion_sd/gestion_sd.h"

uint8_t CTE_BORRAR_SD = 0;

uint32_t cardSizeBlocks = 0;
uint32_t cardCapacityMB = 0;
uint8_t sectorsPerCluster = 0;
uint8_t sectorsPerTrack = 0;
uint8_t numberOfHeads = 0;
uint32_t relSector = 0;
uint32_t partSize = 0;
uint8_t partType = 0;
uint16_t reservedSectors = 0;
uint32_t fatStart = 0;
uint32_t fatSize = 0;
uint32_t dataStart = 0;

// One block buffer for every structure written.
static uint8_t cache[512];

#define BU16 128
#define BU32 8192
#define ERASE_SIZE 262144L
static const uint8_t chipSelect = SD_CHIP_SELECT_PIN_FORMATEO;
static const char noName[] = "NO NAME    ";
static const char fat16str[] = "FAT16   ";
static const char fat32str[] = "FAT32   ";

// Stage time limits, seconds.
#define LIMITE_BORRADO_S 44
#define LIMITE_ETAPA_S 120

static void pon16(uint16_t pos, uint16_t v)
{
    cache[pos] = (uint8_t)v;
    cache[pos + 1] = (uint8_t)(v >> 8);
}

static void pon32(uint16_t pos, uint32_t v)
{
    for (uint8_t i = 0; i < 4; i++) cache[pos + i] = (uint8_t)(v >> (8 * i));
}

static void pon_texto(uint16_t pos, const char *texto, uint8_t n) { memcpy(cache + pos, texto, n); }

[[noreturn]] static void sdError(const char *mensaje)
{
    cout << "error: " << mensaje << endl;
    sdErrorHalt();
}

void sdErrorHalt()
{
    if (card.errorCode()) {
        cout << "SD error: " << hex << (int)card.errorCode() << ',' << (int)card.errorData() << dec << endl;
    }
    // Nothing feeds the watchdog from here on: the board restarts.
    esperar_reset_por_watchdog();
}

void clearCache(uint8_t addSig)
{
    memset(cache, 0, sizeof cache);
    if (addSig) {
        cache[510] = 0x55;
        cache[511] = 0xAA;
    }
}

bool writeCache(uint32_t lbn) { return card.writeBlock(lbn, cache); }

uint16_t lbnToCylinder(uint32_t lbn) { return (uint16_t)(lbn / ((uint32_t)numberOfHeads * sectorsPerTrack)); }

uint8_t lbnToHead(uint32_t lbn)
{
    return (uint8_t)((lbn % ((uint32_t)numberOfHeads * sectorsPerTrack)) / sectorsPerTrack);
}

uint8_t lbnToSector(uint32_t lbn) { return (uint8_t)((lbn % sectorsPerTrack) + 1); }

uint32_t volSerialNumber() { return (cardSizeBlocks << 8) + micros(); }

// Zeroes count blocks from bgn with one multi-block write of the zeroed buffer.
void clearFatDir(uint32_t bgn, uint32_t count)
{
    clearCache(0);
    ctimeout_salir_bucle = LIMITE_ETAPA_S;
    if (!card.writeStart(bgn, count)) sdError("Clear FAT/DIR writeStart failed");
    for (uint32_t i = 0; i < count; i++) {
        if (ctimeout_salir_bucle == 0) {
            // Out of time: the multi-block write is still ended, so that the
            // card takes the blocks that follow.
            card.writeStop();
            return;
        }
        sodaq_wdt_reset();
        if ((i & 0xFF) == 0) {
            cout << '.';
            coutTOV << '.';
        }
        if (!card.writeData(cache)) sdError("Clear FAT/DIR writeData failed");
    }
    if (!card.writeStop()) sdError("Clear FAT/DIR writeStop failed");
    cout << endl;
}

void initSizes()
{
    uint32_t c = cardCapacityMB;
    if (c <= 6) sdError("Card is too small.");
    if (c <= 16) sectorsPerCluster = 2;
    else if (c <= 32) sectorsPerCluster = 4;
    else if (c <= 64) sectorsPerCluster = 8;
    else if (c <= 128) sectorsPerCluster = 16;
    else if (c <= 1024) sectorsPerCluster = 32;
    else if (c <= 32768) sectorsPerCluster = 64;
    else sectorsPerCluster = 128;
    cout << "Blocks/Cluster: " << (int)sectorsPerCluster << endl;

    sectorsPerTrack = c <= 256 ? 32 : 63;

    if (c <= 16) numberOfHeads = 2;
    else if (c <= 32) numberOfHeads = 4;
    else if (c <= 128) numberOfHeads = 8;
    else if (c <= 504) numberOfHeads = 16;
    else if (c <= 1008) numberOfHeads = 32;
    else if (c <= 2016) numberOfHeads = 64;
    else if (c <= 4032) numberOfHeads = 128;
    else numberOfHeads = 255;
}

void writeMbr()
{
    clearCache(1);
    uint8_t *p = cache + 446;  // partition entry 1
    uint16_t c = lbnToCylinder(relSector);
    if (c > 1023) sdError("MBR CHS");
    p[0] = 0;
    p[1] = lbnToHead(relSector);
    p[2] = (uint8_t)(((c >> 8) & 3) << 6 | lbnToSector(relSector));
    p[3] = (uint8_t)c;
    p[4] = partType;
    uint32_t fin = relSector + partSize - 1;
    c = lbnToCylinder(fin);
    if (c <= 1023) {
        p[5] = lbnToHead(fin);
        p[6] = (uint8_t)(((c >> 8) & 3) << 6 | lbnToSector(fin));
        p[7] = (uint8_t)c;
    } else {
        // Beyond the reach of CHS: cylinder 1023, head 254, sector 63.
        p[5] = 254;
        p[6] = (uint8_t)(3 << 6 | 63);
        p[7] = 0xFF;
    }
    pon32(446 + 8, relSector);
    pon32(446 + 12, partSize);
    if (!writeCache(0)) sdError("write MBR");
}

// The fields the FAT16 and FAT32 boot sectors share, up to the hidden and total sectors.
static void sector_arranque_comun(uint16_t reservados, uint16_t entradas_raiz, uint16_t por_fat16)
{
    clearCache(1);
    cache[0] = 0xEB;
    cache[1] = 0x00;
    cache[2] = 0x90;
    memset(cache + 3, ' ', 8);
    pon16(11, 512);
    cache[13] = sectorsPerCluster;
    pon16(14, reservados);
    cache[16] = 2;
    pon16(17, entradas_raiz);
    pon16(19, 0);
    cache[21] = 0xF8;
    pon16(22, por_fat16);
    pon16(24, sectorsPerTrack);
    pon16(26, numberOfHeads);
    pon32(28, relSector);
    pon32(32, partSize);
}

void makeFat16()
{
    uint32_t nc = 0;
    ctimeout_salir_bucle = LIMITE_ETAPA_S;
    for (dataStart = 2 * BU16;; dataStart += BU16) {
        sodaq_wdt_reset();
        nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
        fatSize = (nc + 2 + 255) / 256;
        uint32_t r = BU16 + 1 + 2 * fatSize + 32;
        if (dataStart >= r) break;
        if (ctimeout_salir_bucle == 0) break;
    }
    relSector = dataStart - 2 * fatSize - 33;
    if (nc < 4085 || nc >= 65525) sdError("Bad cluster count");
    reservedSectors = 1;
    fatStart = relSector + reservedSectors;
    partSize = nc * sectorsPerCluster + 2 * fatSize + reservedSectors + 32;
    if (partSize < 32680) partType = 0x01;
    else if (partSize < 65536) partType = 0x04;
    else partType = 0x06;
    writeMbr();

    sector_arranque_comun(reservedSectors, 512, (uint16_t)fatSize);
    cache[36] = 0x80;
    cache[38] = 0x29;
    pon32(39, volSerialNumber());
    pon_texto(43, noName, 11);
    pon_texto(54, fat16str, 8);
    if (!writeCache(relSector)) sdError("FAT16 write PBS failed");

    clearFatDir(fatStart, dataStart - fatStart);
    clearCache(0);
    pon16(0, 0xFFF8);
    pon16(2, 0xFFFF);
    if (!writeCache(fatStart) || !writeCache(fatStart + fatSize)) sdError("FAT16 reserve failed");
}

void makeFat32()
{
    uint32_t nc = 0;
    relSector = BU32;
    ctimeout_salir_bucle = LIMITE_ETAPA_S;
    for (dataStart = 2 * BU32;; dataStart += BU32) {
        sodaq_wdt_reset();
        nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
        fatSize = (nc + 2 + 127) / 128;
        uint32_t r = relSector + 9 + 2 * fatSize;
        if (dataStart >= r) break;
        if (ctimeout_salir_bucle == 0) break;
    }
    if (nc < 65525) sdError("Bad cluster count");
    reservedSectors = (uint16_t)(dataStart - relSector - 2 * fatSize);
    fatStart = relSector + reservedSectors;
    partSize = nc * sectorsPerCluster + dataStart - relSector;
    // The partition type says whether the partition lies within the reach of CHS.
    partType = relSector + partSize <= 16450560 ? 0x0B : 0x0C;
    writeMbr();

    sector_arranque_comun(reservedSectors, 0, 0);
    pon32(36, fatSize);
    pon32(44, 2);   // root cluster
    pon16(48, 1);   // FSInfo sector
    pon16(50, 6);   // backup boot sector
    cache[64] = 0x80;
    cache[66] = 0x29;
    pon32(67, volSerialNumber());
    pon_texto(71, noName, 11);
    pon_texto(82, fat32str, 8);
    if (!writeCache(relSector) || !writeCache(relSector + 6)) sdError("FAT32 write PBS failed");

    clearCache(1);
    if (!writeCache(relSector + 2) || !writeCache(relSector + 8)) sdError("FAT32 PBS ext failed");

    clearCache(1);
    pon32(0, 0x41615252);
    pon32(484, 0x61417272);
    pon32(488, 0xFFFFFFFF);
    pon32(492, 0xFFFFFFFF);
    if (!writeCache(relSector + 1) || !writeCache(relSector + 7)) sdError("FAT32 FSINFO failed");

    clearFatDir(fatStart, 2 * fatSize + sectorsPerCluster);
    clearCache(0);
    pon32(0, 0x0FFFFFF8);
    pon32(4, 0x0FFFFFFF);
    pon32(8, 0x0FFFFFFF);
    if (!writeCache(fatStart) || !writeCache(fatStart + fatSize)) sdError("FAT32 reserve failed");
}

void eraseCard()
{
    cout << endl << "Erasing" << endl;
    ctimeout_salir_bucle = LIMITE_BORRADO_S;
    uint32_t primero = 0;
    uint32_t n = 0;
    do {
        uint32_t ultimo = primero + ERASE_SIZE - 1;
        if (ultimo >= cardSizeBlocks) ultimo = cardSizeBlocks - 1;
        if (!card.erase(primero, ultimo)) sdError("erase failed");
        sodaq_wdt_reset();
        cout << '.';
        if ((++n & 31) == 0) cout << endl;
        if (ctimeout_salir_bucle == 0) return;
        primero += ERASE_SIZE;
    } while (primero < cardSizeBlocks);
    cout << endl;
    if (!card.readBlock(0, cache)) sdError("readBlock");
    static const char digitos[] = "0123456789abcdef";
    cout << "All data set to 0x" << digitos[cache[0] >> 4] << digitos[cache[0] & 15] << endl;
    cout << "Erase done" << endl;
}

void formatCard()
{
    cout << endl << "Formatting" << endl;
    initSizes();
    if (card.type() == SD_CARD_TYPE_SDHC) {
        cout << "FAT32" << endl;
        makeFat32();
    } else {
        cout << "FAT16" << endl;
        makeFat16();
    }
    cout << "Format done" << endl;
}

void Formatear_SD()
{
    // The open files belong to the volume about to be replaced: dropped
    // without writing anything more onto the card.
    ffichero_raw = File();
    ffichero_wav = File();
    ffichero_res = File();

    // What the link still holds is dropped, 10 ms at a time while bytes keep
    // coming, for half a second at most: a line that never falls silent
    // must not hold the formatter until the watchdog's reset.
    for (uint8_t i = 0; i < 50; i++) {
        delay(10);
        sodaq_wdt_reset();
        int pendientes = Serial.available();
        if (pendientes <= 0) break;
        while (pendientes-- > 0) Serial.read();
    }

    cout << endl
         << "This program can erase and/or format SD/SDHC cards." << endl
         << endl
         << "Erase uses the card's fast flash erase command." << endl
         << "Flash erase sets all data to 0X00 for most cards" << endl
         << "and 0XFF for a few vendor's cards." << endl
         << endl
         << "Cards larger than 2 GB will be formatted FAT32 and" << endl
         << "smaller cards will be formatted FAT16." << endl
         << endl
         << "Warning, all data on the card will be erased." << endl;

    if (!card.begin(chipSelect, SD_SCK_MHZ(12))) {
        cout << endl
             << "SD initialization failure!" << endl
             << "Is the SD card inserted correctly?" << endl
             << "Is chip select correct at the top of this program?" << endl;
        sdError("card.begin failed");
    }
    cardSizeBlocks = card.cardSize();
    if (cardSizeBlocks == 0) sdError("cardSize");
    cardCapacityMB = (cardSizeBlocks + 2047) / 2048;
    cout << "Card Size: " << setprecision(0) << (double)(1.048576 * cardCapacityMB) << setprecision(2)
         << " MB, (MB = 1,000,000 bytes)" << endl;

    if (CTE_BORRAR_SD == 1) eraseCard();
    formatCard();
}
