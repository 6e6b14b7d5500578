#include "eeprom_copias.h"

#include <string.h>

namespace samd21 {

namespace {
// Place of the fields in a copy's row.
constexpr uint32_t POS_MAGIA = 0;
constexpr uint32_t POS_SECUENCIA = 4;
constexpr uint32_t POS_IMAGEN = 8;
constexpr uint32_t POS_CRC = POS_IMAGEN + CopiasEeprom::BYTES_IMAGEN;
constexpr uint32_t BYTES_CABEZA = POS_CRC + 4;   // header, image and CRC: pages 0 and 1
constexpr uint32_t POS_MARCA = CopiasEeprom::BYTES_FILA - CopiasEeprom::BYTES_PAGINA;   // the last page
static_assert(BYTES_CABEZA <= POS_MARCA, "the mark has a page of its own");

void poner32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}
uint32_t tomar32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
}  // namespace

uint32_t crc32_eeprom(const uint8_t *datos, size_t n, uint32_t crc)
{
    for (size_t i = 0; i < n; i++) {
        crc ^= datos[i];
        for (int b = 0; b < 8; b++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

bool CopiasEeprom::copia_valida(uint32_t fila, uint32_t *secuencia)
{
    uint8_t cabeza[BYTES_CABEZA];
    uint8_t marca[4];
    uint32_t base = fila * BYTES_FILA;
    flash_.leer(base + POS_MARCA, marca, sizeof marca);
    if (tomar32(marca) != MARCA_VALIDA) return false;
    flash_.leer(base, cabeza, sizeof cabeza);
    if (tomar32(cabeza + POS_MAGIA) != MAGIA) return false;
    uint32_t crc = ~crc32_eeprom(cabeza + POS_SECUENCIA, 4 + BYTES_IMAGEN);
    if (tomar32(cabeza + POS_CRC) != crc) return false;
    *secuencia = tomar32(cabeza + POS_SECUENCIA);
    return true;
}

void CopiasEeprom::cargar()
{
    memset(imagen_, 0, sizeof imagen_);
    valida_ = false;
    cambiada_ = false;
    fila_actual_ = -1;
    secuencia_ = 0;
    for (uint32_t f = 0; f < filas_; f++) {
        validas_[f] = copia_valida(f, &secuencias_[f]);
        if (validas_[f] && (fila_actual_ < 0 || secuencias_[f] > secuencia_)) {
            fila_actual_ = (int32_t)f;
            secuencia_ = secuencias_[f];
        }
    }
    if (fila_actual_ >= 0) {
        flash_.leer((uint32_t)fila_actual_ * BYTES_FILA + POS_IMAGEN, imagen_, BYTES_IMAGEN);
        valida_ = true;
    }
}

uint8_t CopiasEeprom::leer(int direccion) const
{
    if (direccion < 0 || direccion >= (int)BYTES_IMAGEN) return 0;
    return imagen_[direccion];
}

void CopiasEeprom::escribir(int direccion, uint8_t valor)
{
    if (direccion < 0 || direccion >= (int)BYTES_IMAGEN) return;
    if (imagen_[direccion] != valor) {
        imagen_[direccion] = valor;
        cambiada_ = true;
    }
}

bool CopiasEeprom::confirmar()
{
    if (!cambiada_) return true;
    // The destination: an invalid row, else the oldest copy; never the newest.
    int32_t destino = -1;
    for (uint32_t f = 0; f < filas_; f++) {
        if ((int32_t)f == fila_actual_) continue;
        if (!validas_[f]) {
            destino = (int32_t)f;
            break;
        }
        if (destino < 0 || secuencias_[f] < secuencias_[destino]) destino = (int32_t)f;
    }
    if (destino < 0) return false;   // a region of one row cannot keep a copy safe
    uint32_t nueva = secuencia_ + 1u;
    uint32_t base = (uint32_t)destino * BYTES_FILA;

    validas_[destino] = false;
    if (!flash_.borrar_fila(base)) return false;

    uint8_t pagina[BYTES_PAGINA];
    uint8_t cabeza[2 * BYTES_PAGINA];
    memset(cabeza, 0xFF, sizeof cabeza);
    poner32(cabeza + POS_MAGIA, MAGIA);
    poner32(cabeza + POS_SECUENCIA, nueva);
    memcpy(cabeza + POS_IMAGEN, imagen_, BYTES_IMAGEN);
    poner32(cabeza + POS_CRC, ~crc32_eeprom(cabeza + POS_SECUENCIA, 4 + BYTES_IMAGEN));
    for (uint32_t p = 0; p * BYTES_PAGINA < BYTES_CABEZA; p++)
        if (!flash_.escribir_pagina(base + p * BYTES_PAGINA, cabeza + p * BYTES_PAGINA)) return false;

    memset(pagina, 0xFF, sizeof pagina);
    poner32(pagina, MARCA_VALIDA);
    if (!flash_.escribir_pagina(base + POS_MARCA, pagina)) return false;

    validas_[destino] = true;
    secuencias_[destino] = nueva;
    fila_actual_ = destino;
    secuencia_ = nueva;
    valida_ = true;
    cambiada_ = false;
    return true;
}

}  // namespace samd21
