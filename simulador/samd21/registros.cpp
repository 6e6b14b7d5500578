// The chip's register map: which model answers at which address, with the
// size of each register, so that an access of any width reaches the
// registers it covers byte by byte, as the bus does.
#include <unicorn/unicorn.h>

#include <algorithm>
#include <map>

#include "chip.h"

namespace samd21 {

namespace {

constexpr uint32_t DSU = 0x41002000u;
constexpr uint32_t PM = Pm::BASE, SYSCTRL = Sysctrl::BASE, GCLK = Gclk::BASE, WDT = Wdt::BASE;
constexpr uint32_t NVMCTRL = Nvmctrl::BASE, PORT = Port::BASE, PORT_IOBUS = Port::BASE_IOBUS;
constexpr uint32_t SERCOM0 = Sercom::BASE0, TCC0 = Tcc::BASE0, SCS = Systick::BASE;

// The modelled registers: start address and size in bytes.
struct TablaRegistros {
    std::map<uint32_t, uint8_t> registros;
    void poner(uint32_t base, std::initializer_list<std::pair<uint32_t, uint8_t>> lista)
    {
        for (const auto &r : lista) registros[base + r.first] = r.second;
    }
};

const TablaRegistros &tabla()
{
    static TablaRegistros t = [] {
        TablaRegistros t;
        t.poner(PM, {{0x00, 1}, {0x01, 1}, {0x08, 1}, {0x09, 1}, {0x0A, 1}, {0x0B, 1}, {0x14, 4}, {0x18, 4},
                     {0x1C, 4}, {0x20, 4}, {0x34, 1}, {0x35, 1}, {0x36, 1}, {0x38, 1}});
        t.poner(SYSCTRL, {{0x00, 4}, {0x04, 4}, {0x08, 4}, {0x0C, 4}, {0x10, 2}, {0x14, 2}, {0x18, 4}, {0x1C, 1},
                          {0x20, 4}, {0x24, 2}, {0x28, 4}, {0x2C, 4}, {0x30, 1}, {0x34, 4}, {0x3C, 2}, {0x40, 4},
                          {0x44, 1}, {0x48, 4}, {0x4C, 4}, {0x50, 1}});
        t.poner(GCLK, {{0x0, 1}, {0x1, 1}, {0x2, 2}, {0x4, 4}, {0x8, 4}});
        t.poner(WDT, {{0x0, 1}, {0x1, 1}, {0x2, 1}, {0x4, 1}, {0x5, 1}, {0x6, 1}, {0x7, 1}, {0x8, 1}});
        t.poner(DSU, {{0x18, 4}});
        t.poner(NVMCTRL, {{0x00, 2}, {0x04, 4}, {0x08, 4}, {0x0C, 1}, {0x10, 1}, {0x14, 1}, {0x18, 2}, {0x1C, 4},
                          {0x20, 2}});
        for (uint32_t base : {PORT, PORT_IOBUS})
            for (uint32_t g = 0; g < 2; g++) {
                uint32_t b = base + 0x80 * g;
                for (uint32_t off = 0; off <= 0x28; off += 4) t.registros[b + off] = 4;
                for (uint32_t i = 0; i < 16; i++) t.registros[b + 0x30 + i] = 1;
                for (uint32_t i = 0; i < 32; i++) t.registros[b + 0x40 + i] = 1;
            }
        for (uint32_t n = 0; n < (uint32_t)Sercom::CANTIDAD; n++)
            t.poner(SERCOM0 + Sercom::PASO * n, {{0x00, 4}, {0x04, 4}, {0x0C, 2}, {0x0E, 1}, {0x14, 1}, {0x16, 1},
                                                 {0x18, 1}, {0x1A, 2}, {0x1C, 4}, {0x24, 4}, {0x28, 4}, {0x30, 1}});
        t.poner(TCC0, {{0x00, 4}, {0x04, 1}, {0x05, 1}, {0x08, 4}, {0x0C, 4}, {0x10, 4}, {0x14, 4}, {0x18, 4},
                       {0x1E, 1}, {0x20, 4}, {0x24, 4}, {0x28, 4}, {0x2C, 4}, {0x30, 4}, {0x34, 4}, {0x38, 2},
                       {0x3C, 4}, {0x40, 4}, {0x44, 4}, {0x48, 4}, {0x4C, 4}, {0x50, 4}, {0x64, 2}, {0x68, 4},
                       {0x6C, 4}, {0x70, 4}, {0x74, 4}, {0x78, 4}, {0x7C, 4}});
        return t;
    }();
    return t;
}

int anchura_registro_tabla(uint32_t direccion, uint32_t &inicio)
{
    const auto &r = tabla().registros;
    auto it = r.upper_bound(direccion);
    if (it == r.begin()) return -1;
    --it;
    if (direccion >= it->first + it->second) return -1;
    inicio = it->first;
    return it->second;
}

}  // namespace

int Chip::anchura_registro(uint32_t direccion, uint32_t &inicio) const
{
    // Drivers poll the same few registers: a small cache in front of the table.
    struct Entrada { uint32_t direccion = 0xFFFFFFFFu, inicio = 0; int tam = -1; };
    static Entrada cache[256];
    Entrada &e = cache[(direccion ^ (direccion >> 8)) & 0xFF];
    if (e.direccion == direccion) {
        inicio = e.inicio;
        return e.tam;
    }
    int tam = anchura_registro_tabla(direccion, inicio);
    e = {direccion, inicio, tam};
    return tam;
}

// Called inside a handler: a register access that threw ends the core's run,
// with the emulator's reason or the world's exception kept for after it.
// Nothing may escape into the engine, which calls these accesses.
void Chip::parar_por_excepcion()
{
    try {
        throw;
    } catch (const ParadaEmulador &p) {
        error_ = p.what();
    } catch (...) {
        excepcion_mundo_ = std::current_exception();
    }
    parar_tramo_ = true;
    uc_emu_stop(uc_);
}

uint64_t Chip::leer_mmio(uint32_t direccion, unsigned ancho)
{
    if (registrar_mmio_) registro_mmio_[{direccion, ancho, 'R'}]++;
    try {
        if (direccion >= SCS && direccion < SCS + 0x1000) {
            if (ancho != 4 || (direccion & 3)) parar("system control space accessed with a width other than a word", direccion);
            return scs_leer(direccion);
        }
        uint64_t r = 0;
        for (unsigned i = 0; i < ancho;) {
            uint32_t a = direccion + i, inicio = 0;
            int tam = anchura_registro(a, inicio);
            if (tam < 0) parar("read of an unmodelled register", a);
            uint32_t v = leer_registro(inicio);
            unsigned desde = a - inicio, n = std::min<unsigned>((unsigned)tam - desde, ancho - i);
            for (unsigned k = 0; k < n; k++) r |= (uint64_t)((v >> (8 * (desde + k))) & 0xFF) << (8 * (i + k));
            i += n;
        }
        return r;
    } catch (...) {
        parar_por_excepcion();
    }
    return 0;
}

void Chip::escribir_mmio(uint32_t direccion, unsigned ancho, uint64_t valor)
{
    if (registrar_mmio_) registro_mmio_[{direccion, ancho, 'W'}]++;
    try {
        if (direccion >= SCS && direccion < SCS + 0x1000) {
            if (ancho != 4 || (direccion & 3)) parar("system control space accessed with a width other than a word", direccion);
            scs_escribir(direccion, (uint32_t)valor);
            reprogramar_tramo();
            return;
        }
        for (unsigned i = 0; i < ancho;) {
            uint32_t a = direccion + i, inicio = 0;
            int tam = anchura_registro(a, inicio);
            if (tam < 0) parar("write to an unmodelled register", a);
            unsigned desde = a - inicio, n = std::min<unsigned>((unsigned)tam - desde, ancho - i);
            uint32_t v = 0, m = 0;
            for (unsigned k = 0; k < n; k++) {
                v |= (uint32_t)((valor >> (8 * (i + k))) & 0xFF) << (8 * (desde + k));
                m |= 0xFFu << (8 * (desde + k));
            }
            escribir_registro(inicio, v, m);
            i += n;
        }
        reprogramar_tramo();
        return;
    } catch (...) {
        parar_por_excepcion();
    }
}

uint32_t Chip::leer_registro(uint32_t a)
{
    if (a >= PM && a < PM + 0x400) return pm_.leer(a - PM);
    if (a >= SYSCTRL && a < SYSCTRL + 0x400) return sysctrl_.leer(a - SYSCTRL);
    if (a >= GCLK && a < GCLK + 0x400) return gclk_.leer(a - GCLK);
    if (a >= WDT && a < WDT + 0x400) return wdt_.leer(a - WDT);
    if (a == DSU + 0x18) return 0x10010300u;  // DID: SAMD21J18A
    if (a >= NVMCTRL && a < NVMCTRL + 0x400) return nvmctrl_.leer(a - NVMCTRL);
    if (a >= PORT && a < PORT + 0x100) return port_.leer((int)((a - PORT) / 0x80), (a - PORT) % 0x80);
    if (a >= PORT_IOBUS && a < PORT_IOBUS + 0x100)
        return port_.leer((int)((a - PORT_IOBUS) / 0x80), (a - PORT_IOBUS) % 0x80);
    if (a >= SERCOM0 && a < SERCOM0 + Sercom::PASO * Sercom::CANTIDAD) {
        int n = (int)((a - SERCOM0) / Sercom::PASO);
        if (!pm_.reloj_bus_apbc(Pm::APBC_SERCOM0 + n))
            parar("SERCOM" + std::to_string(n) + " read with its bus clock off (PM.APBCMASK)", a);
        return sercom_[n].leer((a - SERCOM0) % Sercom::PASO);
    }
    if (a >= TCC0 && a < TCC0 + 0x400) {
        if (!pm_.reloj_bus_apbc(Pm::APBC_TCC0)) parar("TCC0 read with its bus clock off (PM.APBCMASK)", a);
        return tcc0_.leer(a - TCC0);
    }
    parar("read of an unmodelled register", a);
}

void Chip::escribir_registro(uint32_t a, uint32_t v, uint32_t m)
{
    if (a >= PM && a < PM + 0x400) return pm_.escribir(a - PM, v, m);
    if (a >= SYSCTRL && a < SYSCTRL + 0x400) return sysctrl_.escribir(a - SYSCTRL, v, m);
    if (a >= GCLK && a < GCLK + 0x400) return gclk_.escribir(a - GCLK, v, m);
    if (a >= WDT && a < WDT + 0x400) return wdt_.escribir(a - WDT, v, m);
    if (a >= NVMCTRL && a < NVMCTRL + 0x400) return nvmctrl_.escribir(a - NVMCTRL, v, m);
    if (a >= PORT && a < PORT + 0x100) return port_.escribir((int)((a - PORT) / 0x80), (a - PORT) % 0x80, v, m);
    if (a >= PORT_IOBUS && a < PORT_IOBUS + 0x100)
        return port_.escribir((int)((a - PORT_IOBUS) / 0x80), (a - PORT_IOBUS) % 0x80, v, m);
    if (a >= SERCOM0 && a < SERCOM0 + Sercom::PASO * Sercom::CANTIDAD) {
        int n = (int)((a - SERCOM0) / Sercom::PASO);
        if (!pm_.reloj_bus_apbc(Pm::APBC_SERCOM0 + n))
            parar("SERCOM" + std::to_string(n) + " written with its bus clock off (PM.APBCMASK)", a);
        return sercom_[n].escribir((a - SERCOM0) % Sercom::PASO, v, m);
    }
    if (a >= TCC0 && a < TCC0 + 0x400) {
        if (!pm_.reloj_bus_apbc(Pm::APBC_TCC0)) parar("TCC0 written with its bus clock off (PM.APBCMASK)", a);
        return tcc0_.escribir(a - TCC0, v, m);
    }
    parar("write to an unmodelled register", a);
}

// ---------------------------------------------------------------- the NVM space

uint64_t Chip::leer_nvm_espacio(uint32_t d, unsigned ancho)
{
    if (registrar_mmio_) registro_mmio_[{d, ancho, 'R'}]++;
    uint64_t v = 0;
    for (unsigned i = 0; i < ancho; i++) {
        uint32_t a = d + i;
        uint8_t b = 0xFF;
        if (!nvmctrl_.leer_byte_espacio(a, b)) {
            error_ = "read of the NVM space at an address not modelled at " + hex(a) + " (PC " +
                     hex(leer_reg(UC_ARM_REG_PC)) + ")";
            parar_tramo_ = true;
            uc_emu_stop(uc_);
            return 0;
        }
        v |= (uint64_t)b << (8 * i);
    }
    return v;
}

void Chip::escribir_nvm_espacio(uint32_t d, unsigned ancho, uint64_t valor)
{
    if (registrar_mmio_) registro_mmio_[{d, ancho, 'W'}]++;
    try {
        nvmctrl_.escribir_espacio(d, ancho, valor);
        return;
    } catch (...) {
        parar_por_excepcion();
    }
}

}  // namespace samd21
