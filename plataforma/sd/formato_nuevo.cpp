#include "formato_nuevo.h"

#include <string.h>

namespace {

struct Geometria {
    uint32_t bloques;
    uint8_t por_cluster, por_pista, cabezas;
    uint32_t inicio_particion, tamano_particion, inicio_fat, tamano_fat, inicio_datos;
    uint16_t reservados;
    uint8_t tipo_particion;
};

void poner16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
void poner32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

void limpiar(uint8_t *b, bool firma)
{
    memset(b, 0, 512);
    if (firma) { b[510] = 0x55; b[511] = 0xAA; }
}

void chs(const Geometria &g, uint32_t lbn, uint8_t *p)
{
    uint32_t por_cilindro = (uint32_t)g.cabezas * g.por_pista;
    uint32_t c = lbn / por_cilindro;
    uint8_t h = (uint8_t)((lbn % por_cilindro) / g.por_pista);
    uint8_t s = (uint8_t)((lbn % g.por_pista) + 1);
    if (c > 1023) { c = 1023; h = 254; s = 63; }
    p[0] = h;
    p[1] = (uint8_t)(((c >> 2) & 0xC0) | s);
    p[2] = (uint8_t)c;
}

bool escribir_mbr(const Geometria &g, uint8_t *b, EscribirBloqueSd escribir, void *ctx)
{
    limpiar(b, true);
    uint8_t *e = b + 446;
    e[0] = 0;
    chs(g, g.inicio_particion, e + 1);
    e[4] = g.tipo_particion;
    chs(g, g.inicio_particion + g.tamano_particion - 1, e + 5);
    poner32(e + 8, g.inicio_particion);
    poner32(e + 12, g.tamano_particion);
    return escribir(ctx, 0, b);
}

// The fields the FAT16 and FAT32 boot sectors share.
void sector_arranque(const Geometria &g, uint8_t *b)
{
    limpiar(b, true);
    b[0] = 0xEB; b[1] = 0x00; b[2] = 0x90;
    memset(b + 3, ' ', 8);
    poner16(b + 11, 512);
    b[13] = g.por_cluster;
    poner16(b + 14, g.reservados);
    b[16] = 2;
    b[21] = 0xF8;
    poner16(b + 24, g.por_pista);
    poner16(b + 26, g.cabezas);
    poner32(b + 28, g.inicio_particion);
    poner32(b + 32, g.tamano_particion);
}

}  // namespace

bool sd_formatear_tarjeta_nueva(uint32_t bloques, bool alta_capacidad, uint8_t bloques_por_cluster,
                                uint32_t numero_serie, EscribirBloqueSd escribir, void *contexto)
{
    Geometria g = {};
    g.bloques = bloques;
    uint32_t mb = (bloques + 2047) / 2048;
    if (mb <= 6) return false;
    g.por_cluster = mb <= 16 ? 2 : mb <= 32 ? 4 : mb <= 64 ? 8 : mb <= 128 ? 16 : mb <= 1024 ? 32
                    : mb <= 32768 ? 64 : 128;
    if (bloques_por_cluster) g.por_cluster = bloques_por_cluster;
    g.por_pista = mb <= 256 ? 32 : 63;
    g.cabezas = mb <= 16 ? 2 : mb <= 32 ? 4 : mb <= 128 ? 8 : mb <= 504 ? 16 : mb <= 1008 ? 32
                : mb <= 2016 ? 64 : mb <= 4032 ? 128 : 255;
    uint8_t b[512];

    if (!alta_capacidad) {
        uint32_t nc = 0;
        for (g.inicio_datos = 256;; g.inicio_datos += 128) {
            if (g.inicio_datos >= bloques) return false;
            nc = (bloques - g.inicio_datos) / g.por_cluster;
            g.tamano_fat = (nc + 257) / 256;
            if (g.inicio_datos >= 2 * g.tamano_fat + 161) break;
        }
        g.inicio_particion = g.inicio_datos - 2 * g.tamano_fat - 33;
        if (nc < 4085 || nc >= 65525) return false;
        g.reservados = 1;
        g.inicio_fat = g.inicio_particion + 1;
        g.tamano_particion = nc * g.por_cluster + 2 * g.tamano_fat + 33;
        g.tipo_particion = g.tamano_particion < 32680 ? 0x01 : g.tamano_particion < 65536 ? 0x04 : 0x06;
        if (!escribir_mbr(g, b, escribir, contexto)) return false;
        sector_arranque(g, b);
        poner16(b + 17, 512);
        poner16(b + 22, (uint16_t)g.tamano_fat);
        b[36] = 0x80;
        b[38] = 0x29;
        poner32(b + 39, numero_serie);
        memcpy(b + 43, "NO NAME    ", 11);
        memcpy(b + 54, "FAT16   ", 8);
        if (!escribir(contexto, g.inicio_particion, b)) return false;
        limpiar(b, false);
        poner16(b, 0xFFF8);
        poner16(b + 2, 0xFFFF);
        return escribir(contexto, g.inicio_fat, b) && escribir(contexto, g.inicio_fat + g.tamano_fat, b);
    }

    g.inicio_particion = 8192;
    uint32_t nc = 0;
    for (g.inicio_datos = 16384;; g.inicio_datos += 8192) {
        if (g.inicio_datos >= bloques) return false;
        nc = (bloques - g.inicio_datos) / g.por_cluster;
        g.tamano_fat = (nc + 129) / 128;
        if (g.inicio_datos >= g.inicio_particion + 2 * g.tamano_fat + 9) break;
    }
    if (nc < 65525) return false;
    g.reservados = (uint16_t)(g.inicio_datos - g.inicio_particion - 2 * g.tamano_fat);
    g.inicio_fat = g.inicio_particion + g.reservados;
    g.tamano_particion = nc * g.por_cluster + g.inicio_datos - g.inicio_particion;
    g.tipo_particion = g.inicio_particion + g.tamano_particion <= 16450560u ? 0x0B : 0x0C;
    if (!escribir_mbr(g, b, escribir, contexto)) return false;
    sector_arranque(g, b);
    poner32(b + 36, g.tamano_fat);
    poner32(b + 44, 2);
    poner16(b + 48, 1);
    poner16(b + 50, 6);
    b[64] = 0x80;
    b[66] = 0x29;
    poner32(b + 67, numero_serie);
    memcpy(b + 71, "NO NAME    ", 11);
    memcpy(b + 82, "FAT32   ", 8);
    if (!escribir(contexto, g.inicio_particion, b) || !escribir(contexto, g.inicio_particion + 6, b)) return false;
    limpiar(b, true);
    if (!escribir(contexto, g.inicio_particion + 2, b) || !escribir(contexto, g.inicio_particion + 8, b))
        return false;
    limpiar(b, true);
    poner32(b, 0x41615252);
    poner32(b + 484, 0x61417272);
    poner32(b + 488, 0xFFFFFFFF);
    poner32(b + 492, 0xFFFFFFFF);
    if (!escribir(contexto, g.inicio_particion + 1, b) || !escribir(contexto, g.inicio_particion + 7, b))
        return false;
    limpiar(b, false);
    poner32(b, 0x0FFFFFF8);
    poner32(b + 4, 0x0FFFFFFF);
    poner32(b + 8, 0x0FFFFFFF);
    return escribir(contexto, g.inicio_fat, b) && escribir(contexto, g.inicio_fat + g.tamano_fat, b);
}
