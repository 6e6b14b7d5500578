// NVMCTRL, the flash controller: the page buffer, the commands that erase
// rows and write pages (the EEPROM rows at the end of the flash, the user row
// of the auxiliary space), its error flags, and the flash file that keeps the
// EEPROM rows and the user row between runs.
#ifndef SIMULADOR_SAMD21_NVMCTRL_H
#define SIMULADOR_SAMD21_NVMCTRL_H

#include <cstdint>
#include <string>
#include <vector>

#include "entorno.h"
#include "fusibles.h"

namespace samd21 {

constexpr uint32_t FLASH_BYTES = 256 * 1024;
constexpr uint32_t EEPROM_BASE = 0x3FC00u;      // flash rows of the emulated EEPROM
constexpr uint32_t EEPROM_BYTES = 1024;
constexpr uint32_t NVM_AUX = 0x00800000u;       // the auxiliary space
constexpr uint32_t FILA_USUARIO = 0x00804000u;  // NVM user row
constexpr uint32_t FILA_USUARIO_BYTES = 64;
constexpr uint32_t CALIBRACION = 0x00806020u;   // software calibration row
constexpr uint32_t PAGINA_NVM = 64;
constexpr uint32_t FILA_NVM = 256;

class Nvmctrl {
public:
    static constexpr uint32_t BASE = 0x41004000u;

    // `flash` is the chip's whole flash (the EEPROM rows are written in it);
    // `ruta_fichero` the flash file ("" for none).
    Nvmctrl(Entorno &e, std::vector<uint8_t> &flash, const std::string &ruta_fichero);
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The NVM space behind the controller: a byte of the EEPROM rows or the
    // auxiliary space (false: nothing modelled at that address), and a write
    // to the page buffer.
    bool leer_byte_espacio(uint32_t direccion, uint8_t &byte) const;
    void escribir_espacio(uint32_t direccion, unsigned ancho, uint64_t valor);

    // The user row's first 64 bits (the fuses) as the row holds them now, and
    // as the last reset loaded them into the chip (they apply from a reset on).
    uint64_t fusibles() const;
    const Fusibles &fusibles_cargados() const { return cargados_; }
    const std::vector<uint8_t> &fila_usuario() const { return fila_usuario_; }

    uint64_t escrituras_fila_usuario() const { return escrituras_fila_usuario_; }
    uint64_t borrados_eeprom() const { return borrados_eeprom_; }
    uint64_t paginas_escritas() const { return paginas_escritas_; }

private:
    void comando(uint32_t cmd);
    void error_programacion();
    void error_bloqueo();
    // The row at this byte address of the main flash is protected (BOOTPROT,
    // or its region's lock bit).
    bool protegida(uint32_t byte) const;
    void cargar_fichero();
    void guardar_fichero();

    Entorno &e_;
    std::vector<uint8_t> &flash_;
    std::string ruta_fichero_;
    std::vector<uint8_t> fila_usuario_;
    uint32_t ctrlb_ = 0, addr_ = 0;
    uint16_t status_ = 0, lock_ = 0xFFFF;
    uint8_t intflag_error_ = 0, inten_ = 0;
    Fusibles cargados_;
    uint8_t buffer_[PAGINA_NVM];
    bool buffer_cargado_ = false;
    uint64_t escrituras_fila_usuario_ = 0, borrados_eeprom_ = 0, paginas_escritas_ = 0;
};

}  // namespace samd21

#endif
