// What the volume's three parts (its tables, its directories, its files)
// share: the directory entry's fields, little-endian access and the rules of
// short (8.3) and long names.
#ifndef PLATAFORMA_SD_FAT_COMUN_H
#define PLATAFORMA_SD_FAT_COMUN_H

#include <stddef.h>
#include <stdint.h>

namespace fat_comun {

constexpr uint8_t ATR_SOLO_LECTURA = 0x01;
constexpr uint8_t ATR_ETIQUETA = 0x08;
constexpr uint8_t ATR_DIRECTORIO = 0x10;
constexpr uint8_t ATR_NOMBRE_LARGO = 0x0F;
constexpr uint8_t BORRADA = 0xE5;
constexpr uint8_t CASO_BASE = 0x08, CASO_EXT = 0x10;
constexpr uint32_t MAX_ENTRADAS_DIR = 65536;
// Offsets of the 13 name characters in a long-name entry.
constexpr uint8_t POS_LARGO[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

inline uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }
inline void poner16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
inline void poner32(uint8_t *p, uint32_t v) { for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i)); }

inline char mayuscula(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 32) : c; }
inline bool es_minuscula(char c) { return c >= 'a' && c <= 'z'; }
inline bool es_mayuscula(char c) { return c >= 'A' && c <= 'Z'; }

uint8_t suma_nombre_corto(const uint8_t *n);
bool valido_corto(char c);
bool valido_largo(char c);
bool nombre_valido(const char *n, size_t largo);
bool nombre_corto_exacto(const char *n, size_t largo, uint8_t *corto, uint8_t *caso);
void base_generada(const char *n, size_t largo, uint8_t *corto, size_t *largo_base);
bool igual_sin_caso(const char *a, size_t la, const char *b, size_t lb);
size_t texto_corto(const uint8_t *corto, uint8_t caso, char *t);

}  // namespace fat_comun

#endif
