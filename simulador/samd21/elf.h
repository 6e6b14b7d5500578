// The firmware image as the linker left it: the bytes each loadable segment
// puts in flash (at its load address) and the symbol table, for the emulated
// chip and for the figures in summary.json.
#ifndef SIMULADOR_SAMD21_ELF_H
#define SIMULADOR_SAMD21_ELF_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace samd21 {

struct SegmentoElf {
    uint32_t direccion;  // load address (where the bytes sit in flash)
    std::vector<uint8_t> datos;
};

struct FuncionElf {
    uint32_t inicio;  // without the Thumb bit
    uint32_t fin;
    std::string nombre;
};

struct ImagenElf {
    std::vector<SegmentoElf> segmentos;
    std::map<std::string, uint32_t> simbolos;  // every named symbol's value
    std::vector<FuncionElf> funciones;          // sorted by address
    // The symbol's value, or `defecto` when the image does not define it.
    uint32_t simbolo(const std::string &nombre, uint32_t defecto = 0) const;
    // The function containing this address, nullptr outside all of them.
    const FuncionElf *funcion_en(uint32_t direccion) const;
};

// Throws std::runtime_error for a file that is not a 32-bit little-endian ARM ELF.
ImagenElf leer_elf(const std::string &ruta);

}  // namespace samd21

#endif
