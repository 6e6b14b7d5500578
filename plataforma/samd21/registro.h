// Register access for the ATSAMD21 peripheral headers: each peripheral is a
// struct laid out as the datasheet's register summary, placed at its base
// address. Only the registers the board runtime uses are named; the gaps are
// reserved bytes, and every offset is checked at compile time.
#ifndef PLATAFORMA_SAMD21_REGISTRO_H
#define PLATAFORMA_SAMD21_REGISTRO_H

#include <stddef.h>
#include <stdint.h>

#define SAMD21_PERIFERICO(tipo, direccion) (*reinterpret_cast<tipo *>(uintptr_t(direccion)))

namespace samd21 {
typedef volatile uint8_t R8;
typedef volatile uint16_t R16;
typedef volatile uint32_t R32;
}  // namespace samd21

#endif
