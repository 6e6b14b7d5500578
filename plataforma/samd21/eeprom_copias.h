// The emulated EEPROM's image kept in flash rows, written so that a power cut
// at any instant of a commit leaves the last complete image.
//
// Every row of the region holds one copy: a header (magic, sequence number),
// the image and a CRC-32 of sequence and image in its first pages, and the
// validity mark alone in the row's last page. A commit erases the row of the
// oldest (or an invalid) copy, programs header, image and CRC, and programs
// the mark last. The newest valid copy is never touched, so a cut anywhere
// leaves it as it was; a copy without its mark, with a wrong CRC or magic,
// does not count. Copies rotate over the rows, which spreads the erasures.
//
// Portable: the flash is reached through FlashEeprom, so that the host tests
// can cut the power at every step.
#ifndef PLATAFORMA_SAMD21_EEPROM_COPIAS_H
#define PLATAFORMA_SAMD21_EEPROM_COPIAS_H

#include <stddef.h>
#include <stdint.h>

namespace samd21 {

class FlashEeprom {
public:
    // offsets relative to the start of the region; rows of 256 bytes, pages of 64.
    virtual void leer(uint32_t desplazamiento, uint8_t *datos, size_t bytes) = 0;
    virtual bool borrar_fila(uint32_t desplazamiento) = 0;
    virtual bool escribir_pagina(uint32_t desplazamiento, const uint8_t *pagina) = 0;

protected:
    ~FlashEeprom() = default;
};

class CopiasEeprom {
public:
    static constexpr uint32_t BYTES_IMAGEN = 64;
    static constexpr uint32_t BYTES_PAGINA = 64;
    static constexpr uint32_t BYTES_FILA = 256;
    static constexpr uint32_t MAX_FILAS = 8;
    static constexpr uint32_t MAGIA = 0x31454F4Fu;        // "OOE1"
    static constexpr uint32_t MARCA_VALIDA = 0xA5C3A5C3u;

    CopiasEeprom(FlashEeprom &flash, uint32_t filas) : flash_(flash), filas_(filas > MAX_FILAS ? MAX_FILAS : filas) {}

    // Reads the newest valid copy into the working image (zeros without one).
    void cargar();
    bool valida() const { return valida_; }
    uint8_t leer(int direccion) const;
    void escribir(int direccion, uint8_t valor);
    // Stores the working image if it changed; false when the flash reported
    // an error (the image stays pending and the previous copy stays in force).
    bool confirmar();
    uint32_t secuencia() const { return secuencia_; }
    bool pendiente() const { return cambiada_; }

private:
    bool copia_valida(uint32_t fila, uint32_t *secuencia);

    FlashEeprom &flash_;
    uint32_t filas_;
    uint8_t imagen_[BYTES_IMAGEN] = {};
    bool valida_ = false;
    bool cambiada_ = false;
    int32_t fila_actual_ = -1;   // row of the newest valid copy
    uint32_t secuencia_ = 0;
    uint32_t secuencias_[MAX_FILAS] = {};
    bool validas_[MAX_FILAS] = {};
};

uint32_t crc32_eeprom(const uint8_t *datos, size_t n, uint32_t crc = 0xFFFFFFFFu);

}  // namespace samd21

#endif
