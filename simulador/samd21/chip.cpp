#include "chip.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../plataforma/host/tarjeta_host.h"

namespace samd21 {

namespace {

constexpr double HZ_CPU = 48e6;

// Exception returns: the core branches to the EXC_RETURN value; on the chip
// that is 0xFFFFFFxx, which the engine cannot fetch from (execute-never on
// M-profile), so the link register gets the same low byte in a page of our
// own, and fetching there is the return.
constexpr uint32_t PAGINA_RETORNO = 0x0FFFFC00u;
constexpr uint32_t BYTES_PAGINA_RETORNO = 0x400;

// Peripheral bases (ATSAMD21 memory map).
constexpr uint32_t PM = 0x40000400u, SYSCTRL = 0x40000800u, GCLK = 0x40000C00u, WDT = 0x40001000u;
constexpr uint32_t DSU = 0x41002000u, NVMCTRL = 0x41004000u, PORT = 0x41004400u, PORT_IOBUS = 0x60000000u;
constexpr uint32_t SERCOM0 = 0x42000800u, TCC0 = 0x42002000u;
constexpr uint32_t SCS = 0xE000E000u;
constexpr uint32_t NVM_AUX = 0x00800000u;
constexpr uint32_t CALIBRACION = 0x00806020u;

// GCLK channel numbers of CLKCTRL.ID.
constexpr int GCLK_WDT = 0x03, GCLK_SERCOM0 = 0x14, GCLK_TCC0 = 0x1A;

// Interrupt lines of the NVIC.
constexpr int IRQ_SERCOM0 = 9, IRQ_TCC0 = 15;

// Which serial port of the world each SERCOM drives, and its pins: the
// board's wiring (pad numbers, pins and their multiplexer functions).
struct Cableado {
    int puerto;  // -1: none
    int txpo, rxpo;
    int grupo_tx, pin_tx, grupo_rx, pin_rx, funcion;
};
constexpr int FUNC_C = 2, FUNC_D = 3;
const Cableado CABLEADO[6] = {
    {0, 1, 3, 0, 10, 0, 11, FUNC_C},   // SERCOM0: Serial, PA10 / PA11
    {-1, 0, 3, 0, 16, 0, 19, FUNC_C},  // SERCOM1: SPI to the card, PA16 MOSI / PA19 MISO (PA17 SCK)
    {2, 0, 1, 0, 8, 0, 9, FUNC_D},     // SERCOM2: Serial2, PA08 / PA09
    {3, 0, 1, 0, 22, 0, 23, FUNC_C},   // SERCOM3: Serial3, PA22 / PA23
    {-1, 0, 0, 0, 0, 0, 0, 0},         // SERCOM4: not wired
    {1, 1, 3, 1, 22, 1, 23, FUNC_D},   // SERCOM5: Serial1, PB22 / PB23
};

// Board pin numbers the world knows (the firmware's numbering) of PORT pins.
struct PinPlaca { int grupo, numero; uint32_t placa; };
const PinPlaca PINES_PLACA[] = {
    {0, 2, 15}, {0, 14, 17}, {0, 13, 19}, {0, 3, 20}, {0, 4, 21}, {0, 15, 28}, {0, 20, 32},
    {0, 21, 33}, {1, 2, 35}, {1, 3, 39}, {1, 4, 40}, {1, 5, 41}, {1, 6, 42},
};
constexpr int GRUPO_CS = 0, PIN_CS = 13;

uint8_t invertir_bits(uint8_t b)
{
    b = (uint8_t)((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = (uint8_t)((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return (uint8_t)((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

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
        for (uint32_t n = 0; n < 6; n++)
            t.poner(SERCOM0 + 0x400 * n, {{0x00, 4}, {0x04, 4}, {0x0C, 2}, {0x0E, 1}, {0x14, 1}, {0x16, 1}, {0x18, 1},
                                          {0x1A, 2}, {0x1C, 4}, {0x24, 4}, {0x28, 4}, {0x30, 1}});
        t.poner(TCC0, {{0x00, 4}, {0x04, 1}, {0x05, 1}, {0x08, 4}, {0x0C, 4}, {0x10, 4}, {0x14, 4}, {0x18, 4},
                       {0x1E, 1}, {0x20, 4}, {0x24, 4}, {0x28, 4}, {0x2C, 4}, {0x30, 4}, {0x34, 4}, {0x38, 2},
                       {0x3C, 4}, {0x40, 4}, {0x44, 4}, {0x48, 4}, {0x4C, 4}, {0x50, 4}, {0x64, 2}, {0x68, 4},
                       {0x6C, 4}, {0x70, 4}, {0x74, 4}, {0x78, 4}, {0x7C, 4}});
        return t;
    }();
    return t;
}

// ---------------------------------------------------------------- engine callbacks

struct Region {
    Chip *chip;
    uint32_t base;
};

uint64_t mmio_leer(uc_engine *, uint64_t off, unsigned ancho, void *d)
{
    auto *r = static_cast<Region *>(d);
    return r->chip->leer_mmio(r->base + (uint32_t)off, ancho);
}

void mmio_escribir(uc_engine *, uint64_t off, unsigned ancho, uint64_t valor, void *d)
{
    auto *r = static_cast<Region *>(d);
    r->chip->escribir_mmio(r->base + (uint32_t)off, ancho, valor);
}

uint64_t nvm_leer_cb(uc_engine *, uint64_t off, unsigned ancho, void *d)
{
    auto *r = static_cast<Region *>(d);
    return r->chip->leer_nvm_espacio(r->base + (uint32_t)off, ancho);
}

void nvm_escribir_cb(uc_engine *, uint64_t off, unsigned ancho, uint64_t valor, void *d)
{
    auto *r = static_cast<Region *>(d);
    r->chip->escribir_nvm_espacio(r->base + (uint32_t)off, ancho, valor);
}

void gancho_bloque_cb(uc_engine *, uint64_t direccion, uint32_t bytes, void *d)
{
    static_cast<Chip *>(d)->gancho_bloque((uint32_t)direccion, bytes);
}

bool gancho_no_mapeado(uc_engine *, uc_mem_type tipo, uint64_t direccion, int, int64_t, void *d)
{
    bool escritura = tipo == UC_MEM_WRITE_UNMAPPED || tipo == UC_MEM_WRITE_PROT;
    static_cast<Chip *>(d)->acceso_no_mapeado((uint32_t)direccion, escritura);
    return false;
}

std::vector<std::unique_ptr<Region>> &regiones()
{
    static std::vector<std::unique_ptr<Region>> r;
    return r;
}

}  // namespace

// ================================================================ construction

Chip::Chip(placa::Placa &mundo, const std::string &ruta_elf, const std::string &ruta_flash)
    : mundo_(mundo), imagen_(leer_elf(ruta_elf)), ruta_flash_(ruta_flash)
{
    flash_.assign(FLASH_BYTES, 0xFF);
    for (const SegmentoElf &s : imagen_.segmentos) {
        if (s.direccion >= RAM_BASE && s.direccion < RAM_BASE + RAM_BYTES) continue;  // .data's run address
        if ((uint64_t)s.direccion + s.datos.size() > EEPROM_BASE)
            throw std::runtime_error("the image reaches into the EEPROM rows or beyond the flash: " + hex(s.direccion));
        std::memcpy(flash_.data() + s.direccion, s.datos.data(), s.datos.size());
    }
    fila_usuario_.assign(FILA_USUARIO_BYTES, 0xFF);
    // A board ships with the user row its bootloader leaves: an 8 KB boot
    // section, no EEPROM section, the watchdog off.
    const uint32_t fabrica[2] = {0xD8E0C7FAu, 0xFFFFFC5Du};
    std::memcpy(fila_usuario_.data(), fabrica, sizeof fabrica);
    nvm_cargar_fichero();

    pila_tope_ = imagen_.simbolo("__StackTop", RAM_BASE + RAM_BYTES);
    pila_reserva_ = imagen_.simbolo("__StackLimit", 0);
    monticulo_base_ = imagen_.simbolo("__HeapBase", imagen_.simbolo("end", 0));
    dir_ruptura_ = imagen_.simbolo("samd21_ruptura_heap", 0);
    dir_rechazos_ = imagen_.simbolo("samd21_heap_rechazos", 0);
    perfil_.assign(FLASH_BYTES / 2, 0);
    cuenta_bloque_.assign(FLASH_BYTES / 2, 0);
    perfil_base_.assign(FLASH_BYTES / 2, 0);
    for (auto &fila : salida_notificada_)
        for (int &v : fila) v = -1;

    ram_ = static_cast<uint8_t *>(std::aligned_alloc(4096, RAM_BYTES));
    if (!ram_) throw std::runtime_error("no memory for the emulated RAM");
    std::memset(ram_, 0, RAM_BYTES);
    mapear_memoria();
}

Chip::~Chip()
{
    if (uc_) uc_close(uc_);
    std::free(ram_);
}

void Chip::mapear_memoria()
{
    if (uc_open(UC_ARCH_ARM, (uc_mode)(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) != UC_ERR_OK)
        throw std::runtime_error("cannot start the Cortex-M0 core (Unicorn)");
    uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M0);
    auto comprobar = [](uc_err e, const char *que) {
        if (e != UC_ERR_OK) throw std::runtime_error(std::string("cannot map ") + que + ": " + uc_strerror(e));
    };
    comprobar(uc_mem_map_ptr(uc_, 0, EEPROM_BASE, UC_PROT_READ | UC_PROT_EXEC, flash_.data()), "the flash");
    comprobar(uc_mem_map_ptr(uc_, RAM_BASE, RAM_BYTES, UC_PROT_ALL, ram_), "the RAM");
    static uint16_t nops[BYTES_PAGINA_RETORNO / 2];
    for (uint16_t &n : nops) n = 0xBF00;
    comprobar(uc_mem_map_ptr(uc_, PAGINA_RETORNO, BYTES_PAGINA_RETORNO, UC_PROT_READ | UC_PROT_EXEC, nops),
              "the exception return page");
    auto region = [this](uint32_t base) {
        regiones().push_back(std::make_unique<Region>(Region{this, base}));
        return regiones().back().get();
    };
    struct { uint32_t base, bytes; } perifericos[] = {
        {0x40000000u, 0x2000}, {0x41000000u, 0x6000}, {0x42000000u, 0x5000}, {PORT_IOBUS, 0x400}, {SCS, 0x1000}};
    for (const auto &p : perifericos)
        comprobar(uc_mmio_map(uc_, p.base, p.bytes, mmio_leer, region(p.base), mmio_escribir, region(p.base)),
                  "the peripherals");
    comprobar(uc_mmio_map(uc_, EEPROM_BASE, EEPROM_BYTES, nvm_leer_cb, region(EEPROM_BASE), nvm_escribir_cb,
                          region(EEPROM_BASE)),
              "the EEPROM rows");
    comprobar(uc_mmio_map(uc_, NVM_AUX, 0x10000, nvm_leer_cb, region(NVM_AUX), nvm_escribir_cb, region(NVM_AUX)),
              "the NVM auxiliary space");
    // A fixed list of exits (one address the core never reaches): the engine
    // then keeps it between runs instead of building it anew at every start.
    uint64_t salida = 0xFFFFFFFEu;
    comprobar(uc_ctl_exits_enable(uc_), "the exits");
    comprobar(uc_ctl_set_exits(uc_, &salida, 1), "the exits");
    uc_hook h;
    // Instructions are counted a translated block at a time: the hook runs
    // before each block, which the core runs whole unless the hook stops it.
    comprobar(uc_hook_add(uc_, &h, UC_HOOK_BLOCK, (void *)gancho_bloque_cb, this, 1, 0), "the block hook");
    comprobar(uc_hook_add(uc_, &h, UC_HOOK_MEM_UNMAPPED | UC_HOOK_MEM_PROT, (void *)gancho_no_mapeado, this, 1, 0),
              "the fault hook");
}

// ================================================================ registers of the core

uint32_t Chip::leer_reg(int reg) const
{
    uint32_t v = 0;
    uc_reg_read(uc_, reg, &v);
    return v;
}

void Chip::escribir_reg(int reg, uint32_t valor) { uc_reg_write(uc_, reg, &valor); }

uint32_t Chip::leer32_ram(uint32_t d)
{
    if (d < RAM_BASE || d + 4 > RAM_BASE + RAM_BYTES) parar("exception frame outside the RAM", d);
    uint32_t v;
    std::memcpy(&v, ram_ + (d - RAM_BASE), 4);
    return v;
}

void Chip::escribir32_ram(uint32_t d, uint32_t v)
{
    if (d < RAM_BASE || d + 4 > RAM_BASE + RAM_BYTES) parar("exception frame outside the RAM", d);
    std::memcpy(ram_ + (d - RAM_BASE), &v, 4);
}

uint64_t Chip::ahora() const { return en_tramo_ ? tramo_inicio_ + tramo_n_ + estancado_ : mundo_.ciclo(); }

void Chip::sincronizar_mundo()
{
    uint64_t t = ahora();
    if (t > mundo_.ciclo()) mundo_.avanzar_hasta(t);
}

void Chip::parar(const std::string &motivo, uint32_t direccion)
{
    uint32_t pc = leer_reg(UC_ARM_REG_PC);
    throw ParadaEmulador(motivo + " at " + hex(direccion) + " (PC " + hex(pc) + ", " +
                         std::to_string(mundo_.segundos_reales(ahora())) + " s)");
}

// ================================================================ reset

void Chip::reiniciar(bool encendido)
{
    uint8_t rcause = encendido ? 0x01 : rcause_pendiente_;
    if (pintada_) sp_mas_bajo_ = std::min(sp_mas_bajo_, pila_mas_baja());
    // Stack painting: the words the stack writes below its deepest point so far
    // tell how deep it went (read at the end of each boot).
    uint32_t pintar_desde = std::max(monticulo_base_, RAM_BASE);
    if (pintar_desde < pila_tope_ && pila_tope_ <= RAM_BASE + RAM_BYTES)
        for (uint32_t a = (pintar_desde + 3) & ~3u; a + 4 <= pila_tope_; a += 4) escribir32_ram(a, PINTURA);
    pintada_ = true;

    pm_ = Pm{};
    pm_.rcause = rcause;
    sysctrl_ = Sysctrl{};
    gclk_ = Gclk{};
    gclk_.genctrl[0] = 0x00010600u;                   // OSC8M, enabled
    gclk_.genctrl[2] = 0x00110302u;                   // OSCULP32K, enabled, divided by 2^(DIV+1)
    gclk_.gendiv[2] = 0x00000402u;                    // DIV = 4: 1.024 kHz
    for (int g = 0; g < 9; g++) { gclk_.genctrl[g] |= (uint32_t)g; gclk_.gendiv[g] |= (uint32_t)g; }
    gclk_.clkctrl[GCLK_WDT] = 0x4200;                 // the watchdog runs from generator 2 from reset
    // The watchdog's reset values come from the user row's fuses.
    uint64_t fusibles = 0;
    std::memcpy(&fusibles, fila_usuario_.data(), 8);
    wdt_ = Wdt{};
    wdt_.ctrl = (uint8_t)((((fusibles >> 25) & 1) << 1) | (((fusibles >> 26) & 1) << 7) | (((fusibles >> 39) & 1) << 2));
    wdt_.config = (uint8_t)(((fusibles >> 27) & 0xF) | (((fusibles >> 31) & 0xF) << 4));
    wdt_.ewctrl = (uint8_t)((fusibles >> 35) & 0xF);
    uint64_t esc_fila = nvm_.escrituras_fila_usuario, borrados = nvm_.borrados_eeprom, paginas = nvm_.paginas_escritas;
    nvm_ = Nvm{};
    std::memset(nvm_.buffer, 0xFF, sizeof nvm_.buffer);
    nvm_.escrituras_fila_usuario = esc_fila;
    nvm_.borrados_eeprom = borrados;
    nvm_.paginas_escritas = paginas;
    uint64_t coincidencias = tcc0_.coincidencias;
    tcc0_ = Tcc0{};
    tcc0_.coincidencias = coincidencias;
    for (int n = 0; n < 6; n++) {
        uint64_t perdidos = sercom_[n].perdidos_tx;
        sercom_[n] = Sercom{};
        sercom_[n].perdidos_tx = perdidos;
    }
    port_[0] = PuertoPines{};
    port_[1] = PuertoPines{};
    cs_tarjeta_ = true;
    if (encendido) tarjeta_ = TarjetaSpi{};
    if (placa::TarjetaHost *t = placa::tarjeta_actual()) t->cobrar_tiempo(false);
    systick_ = Systick{};
    nvic_iser_ = nvic_ispr_ = 0;
    std::memset(nvic_ipr_, 0, sizeof nvic_ipr_);
    vtor_ = APLICACION;
    shpr2_ = shpr3_ = scr_ = 0;
    pendsv_ = pendst_ = false;
    activas_.clear();
    dormido_ = false;
    reinicio_pendiente_ = false;
    rcause_pendiente_ = 0x01;

    // The core as the bootloader leaves it: the application's table in use.
    uint32_t msp, pc;
    std::memcpy(&msp, flash_.data() + APLICACION, 4);
    std::memcpy(&pc, flash_.data() + APLICACION + 4, 4);
    for (int r = UC_ARM_REG_R0; r <= UC_ARM_REG_R12; r++) escribir_reg(r, 0);
    escribir_reg(UC_ARM_REG_CONTROL, 0);
    escribir_reg(UC_ARM_REG_PRIMASK, 0);
    escribir_reg(UC_ARM_REG_XPSR, 0x01000000u);
    escribir_reg(UC_ARM_REG_IPSR, 0);
    escribir_reg(UC_ARM_REG_MSP, msp);
    escribir_reg(UC_ARM_REG_SP, msp);
    escribir_reg(UC_ARM_REG_LR, 0xFFFFFFFFu);
    escribir_reg(UC_ARM_REG_PC, pc & ~1u);
    if (wdt_.ctrl & 0x02) wdt_programar();
}

// ================================================================ running

uint64_t Chip::proximo_evento() const
{
    uint64_t t = mundo_.proximo();
    t = std::min({t, systick_.proximo, tcc0_.prox_mc0, tcc0_.prox_ovf, wdt_.vence});
    for (int n = 0; n < 6; n++) {
        if (sercom_[n].tx_en_curso) t = std::min(t, sercom_[n].fin_tx);
        if (CABLEADO[n].puerto >= 0) t = std::min(t, mundo_.proxima_llegada(CABLEADO[n].puerto));
    }
    return t;
}

void Chip::atender_eventos()
{
    uint64_t ahora = mundo_.ciclo();
    if (mundo_.proximo() <= ahora) mundo_.avanzar_hasta(ahora);
    if (systick_.proximo <= ahora) {
        uint64_t periodo = (uint64_t)(systick_.rvr & 0xFFFFFF) + 1;
        while (systick_.proximo <= ahora) {
            systick_.countflag = true;
            if (systick_.csr & 2) pendst_ = true;
            systick_.proximo += periodo;
        }
    }
    if (tcc0_.prox_mc0 <= ahora || tcc0_.prox_ovf <= ahora) {
        while (tcc0_.prox_mc0 <= ahora || tcc0_.prox_ovf <= ahora) {
            if (tcc0_.prox_mc0 <= tcc0_.prox_ovf) {
                tcc0_.intflag |= 1u << 16;
                tcc0_.coincidencias++;
                uint64_t periodo = ((uint64_t)(tcc0_.wave & 7) == 1 ? tcc0_.cc[0] : tcc0_.per) + 1;
                tcc0_.prox_mc0 += periodo * tcc0_ciclos_por_cuenta();
            } else {
                tcc0_.intflag |= 1u;
                uint64_t t = tcc0_.prox_ovf;
                if (tcc0_.perb_valido && !(tcc0_.ctrlb & 2)) {
                    tcc0_.per = tcc0_.perb;
                    tcc0_.perb_valido = false;
                    mundo_.tcc0_periodo(tcc0_.per);
                }
                tcc0_.origen = t;
                tcc0_programar();
            }
        }
    }
    if (wdt_.vence <= ahora) {
        wdt_.vence = placa::NUNCA;
        reinicio_pendiente_ = true;
        // The chip cannot tell a missed feed from the firmware's deliberate
        // stop; the image can: the core waiting in the runtime's stop routine.
        const FuncionElf *f = imagen_.funcion_en(leer_reg(UC_ARM_REG_PC));
        bool parada = f && f->nombre == "samd21_parada_hasta_watchdog";
        causa_reinicio_ = parada ? placa::CAUSA_PARADA_FIRMWARE : placa::CAUSA_WATCHDOG;
        rcause_pendiente_ = 0x20;
        return;
    }
    for (int n = 0; n < 6; n++) {
        if (sercom_[n].tx_en_curso && sercom_[n].fin_tx <= ahora) usart_evento(n);
        if (CABLEADO[n].puerto >= 0 && mundo_.proxima_llegada(CABLEADO[n].puerto) <= ahora) usart_llegadas(n);
    }
}

void Chip::ejecutar()
{
    for (;;) {
        atender_eventos();
        if (reinicio_pendiente_) {
            reinicio_pendiente_ = false;
            throw placa::ReinicioPlaca{causa_reinicio_, mundo_.ciclo()};
        }
        if (dormido_) {
            if (excepcion_pendiente(true) >= 0) {
                dormido_ = false;
            } else {
                uint64_t t = proximo_evento();
                if (t == placa::NUNCA) parar("asleep with nothing left to wake the core", leer_reg(UC_ARM_REG_PC));
                ciclos_dormido_ += t - mundo_.ciclo();
                mundo_.avanzar_hasta(t);
                continue;
            }
        }
        while (tomar_excepcion()) {
        }
        uint64_t t = proximo_evento();
        uint64_t limite = t > mundo_.ciclo() ? t - mundo_.ciclo() : 1;
        // An interrupt held back by PRIMASK is taken as soon as it is lifted.
        if (excepcion_pendiente(true) >= 0) limite = 1;
        ejecutar_tramo(limite);
    }
}

void Chip::ejecutar_tramo(uint64_t limite)
{
    tramo_inicio_ = mundo_.ciclo();
    tramo_n_ = 0;
    tramo_limite_ = limite;
    estancado_ = 0;
    parar_tramo_ = false;
    retorno_excepcion_ = false;
    error_.clear();
    excepcion_mundo_ = nullptr;
    en_tramo_ = true;
    uint32_t pc = leer_reg(UC_ARM_REG_PC);
    uc_err e = uc_emu_start(uc_, pc | 1u, 0xFFFFFFFFu, 0, 0);
    tramos_++;
    en_tramo_ = false;
    instrucciones_ += tramo_n_;
    uint64_t fin = tramo_inicio_ + tramo_n_ + estancado_;
    if (dir_ruptura_) {
        uint64_t uso = monticulo_en_uso();
        if (uso > monticulo_pico_) monticulo_pico_ = uso;
    }
    if (excepcion_mundo_) std::rethrow_exception(excepcion_mundo_);
    if (!error_.empty()) throw ParadaEmulador(error_);
    if (e != UC_ERR_OK) {
        uint32_t pc_fallo = leer_reg(UC_ARM_REG_PC);
        switch (e) {
        case UC_ERR_READ_UNMAPPED:
        case UC_ERR_WRITE_UNMAPPED:
        case UC_ERR_FETCH_UNMAPPED:
        case UC_ERR_WRITE_PROT:
        case UC_ERR_READ_PROT:
        case UC_ERR_FETCH_PROT:
            throw ParadaEmulador(std::string(e == UC_ERR_WRITE_PROT ? "write to the flash outside the EEPROM rows"
                                                                    : "access to an address with nothing behind it") +
                                 " at " + hex(error_direccion_) + " (PC " + hex(pc_fallo) + ", " +
                                 std::to_string(mundo_.segundos_reales(fin)) + " s)");
        default: {
            uint16_t ins = 0;
            uc_mem_read(uc_, pc_fallo, &ins, 2);
            if ((ins & 0xFF00) == 0xBE00)
                throw ParadaEmulador("breakpoint (BKPT) at " + hex(pc_fallo));
            // An undefined instruction (or SVC, which the image does not use): a HardFault.
            for (const Activa &a : activas_)
                if (a.numero == 3)
                    throw ParadaEmulador("lockup: a fault inside the HardFault handler at " + hex(pc_fallo));
            mundo_.avanzar_hasta(fin);
            entrar_excepcion(3);
            return;
        }
        }
    }
    if (retorno_excepcion_) {
        mundo_.avanzar_hasta(fin);
        salir_excepcion(destino_retorno_);
        return;
    }
    if (!parar_tramo_ && tramo_n_ < tramo_limite_) {
        // The engine returns by itself after a WFI (or WFE): the core sleeps.
        uint32_t pc_ahora = leer_reg(UC_ARM_REG_PC);
        uint16_t ins = 0;
        uc_mem_read(uc_, pc_ahora - 2, &ins, 2);
        if (ins == 0xBF30 || ins == 0xBF20) dormido_ = true;
        else throw ParadaEmulador("the core stopped for no known reason at PC " + hex(pc_ahora));
    }
    mundo_.avanzar_hasta(fin);
}

// A register write may raise an interrupt or bring the next event closer:
// the chunk ends after this instruction, or at that event.
void Chip::reprogramar_tramo()
{
    if (reinicio_pendiente_ || excepcion_pendiente(true) >= 0) {
        parar_tramo_ = true;
        return;
    }
    uint64_t t = proximo_evento(), inicio = tramo_inicio_ + estancado_;
    uint64_t limite = t > inicio ? t - inicio : 0;
    if (limite <= tramo_n_) parar_tramo_ = true;
    else if (limite < tramo_limite_) tramo_limite_ = limite;
}

// Number of instructions in a block of Thumb code: 32-bit instructions start
// with a halfword whose top five bits are 11101, 11110 or 11111.
uint32_t Chip::instrucciones_bloque(uint32_t direccion, uint32_t bytes)
{
    if (direccion >= EEPROM_BASE || bytes == 0) return bytes / 2;
    uint32_t &c = cuenta_bloque_[direccion >> 1];
    if ((c >> 16) == bytes) return c & 0xFFFF;
    uint32_t n = 0;
    for (uint32_t i = 0; i < bytes && direccion + i + 1 < EEPROM_BASE; n++) {
        uint16_t h = (uint16_t)(flash_[direccion + i] | flash_[direccion + i + 1] << 8);
        i += (h >> 11) >= 0x1D ? 4 : 2;
    }
    c = bytes << 16 | n;
    return n;
}

void Chip::gancho_bloque(uint32_t direccion, uint32_t bytes)
{
    if ((direccion & ~(BYTES_PAGINA_RETORNO - 1)) == PAGINA_RETORNO) {
        retorno_excepcion_ = true;
        destino_retorno_ = direccion;
        uc_emu_stop(uc_);
        return;
    }
    uint32_t n = instrucciones_bloque(direccion, bytes);
    // The block runs whole: it does when it starts the run or fits in it, so
    // an event comes due at most one block late.
    if (parar_tramo_ || (tramo_n_ > 0 && tramo_n_ + n > tramo_limite_)) {
        parar_tramo_ = true;
        uc_emu_stop(uc_);
        return;
    }
    tramo_n_ += n;
    if (direccion < FLASH_BYTES) perfil_[direccion >> 1] += n;
}

void Chip::acceso_no_mapeado(uint32_t direccion, bool escritura)
{
    (void)escritura;
    error_direccion_ = direccion;
}

// ================================================================ exceptions

int Chip::prioridad_excepcion(int n) const
{
    if (n == 2) return -2;
    if (n == 3) return -1;
    if (n == 11) return (int)((shpr2_ >> 30) & 3);
    if (n == 14) return (int)((shpr3_ >> 22) & 3);
    if (n == 15) return (int)((shpr3_ >> 30) & 3);
    int irq = n - 16;
    return (int)((nvic_ipr_[irq / 4] >> (8 * (irq % 4) + 6)) & 3);
}

int Chip::prioridad_actual() const
{
    int p = 4;  // thread mode
    for (const Activa &a : activas_) p = std::min(p, prioridad_excepcion(a.numero));
    return p;
}

bool Chip::irq_linea(int irq) const
{
    if (irq >= IRQ_SERCOM0 && irq < IRQ_SERCOM0 + 6) {
        const Sercom &s = sercom_[irq - IRQ_SERCOM0];
        uint32_t flags = (s.dato_tx_lleno ? 0u : 1u) | (s.txc ? 2u : 0u) | (s.rx.empty() ? 0u : 4u) |
                         (s.rxs ? 8u : 0u) | (s.error ? 0x80u : 0u);
        if (!(s.ctrla & 2)) flags = 0;
        return (flags & s.intenset) != 0;
    }
    if (irq == IRQ_TCC0) return (tcc0_.intflag & tcc0_.intenset) != 0;
    return false;
}

int Chip::excepcion_pendiente(bool ignorar_primask) const
{
    int mejor = -1, mejor_prio = 99;
    auto considerar = [&](int n) {
        for (const Activa &a : activas_)
            if (a.numero == n) return;
        int p = prioridad_excepcion(n);
        if (p < mejor_prio) { mejor = n; mejor_prio = p; }
    };
    if (pendst_) considerar(15);
    if (pendsv_) considerar(14);
    uint32_t pendientes = nvic_ispr_ & nvic_iser_;
    for (uint32_t b = nvic_iser_ & ~pendientes; b; b &= b - 1) {
        int irq = __builtin_ctz(b);
        if (irq_linea(irq)) pendientes |= 1u << irq;
    }
    for (uint32_t b = pendientes; b; b &= b - 1) considerar(16 + __builtin_ctz(b));
    if (mejor < 0) return -1;
    int actual = prioridad_actual();
    if (!ignorar_primask && (leer_reg(UC_ARM_REG_PRIMASK) & 1)) actual = std::min(actual, 0);
    return mejor_prio < actual ? mejor : -1;
}

bool Chip::tomar_excepcion()
{
    int n = excepcion_pendiente(false);
    if (n < 0) return false;
    entrar_excepcion(n);
    return true;
}

void Chip::entrar_excepcion(int n)
{
    if (n == 15) pendst_ = false;
    if (n == 14) pendsv_ = false;
    if (n >= 16) nvic_ispr_ &= ~(1u << (n - 16));
    if (activas_.empty() && (leer_reg(UC_ARM_REG_CONTROL) & 2))
        parar("the process stack (CONTROL.SPSEL) is not modelled", leer_reg(UC_ARM_REG_PC));
    uint32_t sp = leer_reg(UC_ARM_REG_SP);
    uint32_t xpsr = leer_reg(UC_ARM_REG_XPSR) | (1u << 24);
    uint32_t marco = sp - 32;
    if (marco & 4) {
        marco -= 4;
        xpsr |= 1u << 9;
    }
    const int regs[7] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                         UC_ARM_REG_R12, UC_ARM_REG_LR, UC_ARM_REG_PC};
    for (int i = 0; i < 7; i++) escribir32_ram(marco + 4 * i, leer_reg(regs[i]));
    escribir32_ram(marco + 28, xpsr);
    if (marco < sp_mas_bajo_) sp_mas_bajo_ = marco;
    uint32_t exc_return = activas_.empty() ? 0xF9u : 0xF1u;
    uint32_t vector;
    uint32_t dir_vector = vtor_ + 4u * (uint32_t)n;
    if (dir_vector + 4 > EEPROM_BASE) parar("vector table outside the flash", dir_vector);
    std::memcpy(&vector, flash_.data() + dir_vector, 4);
    if (!(vector & 1u)) parar("exception vector without the Thumb bit (a HardFault on the chip)", dir_vector);
    escribir_reg(UC_ARM_REG_SP, marco);
    escribir_reg(UC_ARM_REG_LR, (PAGINA_RETORNO + BYTES_PAGINA_RETORNO - 0x100) | exc_return);
    escribir_reg(UC_ARM_REG_IPSR, (uint32_t)n);
    escribir_reg(UC_ARM_REG_PC, vector & ~1u);
    activas_.push_back({n});
    excepciones_tomadas_++;
}

void Chip::salir_excepcion(uint32_t destino)
{
    uint32_t exc_return = (destino & 0xFF) | 1u;
    if (activas_.empty()) parar("exception return in thread mode", destino);
    if ((exc_return == 0xF9u) != (activas_.size() == 1) || (exc_return != 0xF9u && exc_return != 0xF1u))
        parar("exception return with an EXC_RETURN value that does not match the active exceptions", exc_return);
    activas_.pop_back();
    uint32_t sp = leer_reg(UC_ARM_REG_SP);
    const int regs[7] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                         UC_ARM_REG_R12, UC_ARM_REG_LR, UC_ARM_REG_PC};
    uint32_t v[8];
    for (int i = 0; i < 8; i++) v[i] = leer32_ram(sp + 4 * i);
    for (int i = 0; i < 6; i++) escribir_reg(regs[i], v[i]);
    uint32_t xpsr = v[7];
    sp += 32 + ((xpsr >> 9) & 1u) * 4;
    escribir_reg(UC_ARM_REG_SP, sp);
    escribir_reg(UC_ARM_REG_XPSR, (xpsr & 0xF0000000u) | 0x01000000u | (xpsr & 0x3F));
    escribir_reg(UC_ARM_REG_IPSR, xpsr & 0x3F);
    escribir_reg(UC_ARM_REG_PC, v[6] & ~1u);
}

// ================================================================ memory-mapped registers

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

int Chip::anchura_registro_tabla(uint32_t direccion, uint32_t &inicio) const
{
    const auto &r = tabla().registros;
    auto it = r.upper_bound(direccion);
    if (it == r.begin()) return -1;
    --it;
    if (direccion >= it->first + it->second) return -1;
    inicio = it->first;
    return it->second;
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
            uint32_t v = leer_registro(inicio, inicio);
            unsigned desde = a - inicio, n = std::min<unsigned>((unsigned)tam - desde, ancho - i);
            for (unsigned k = 0; k < n; k++) r |= (uint64_t)((v >> (8 * (desde + k))) & 0xFF) << (8 * (i + k));
            i += n;
        }
        return r;
    } catch (const ParadaEmulador &p) {
        error_ = p.what();
    } catch (...) {
        excepcion_mundo_ = std::current_exception();
    }
    parar_tramo_ = true;
    uc_emu_stop(uc_);
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
            escribir_registro(inicio, inicio, v, m);
            i += n;
        }
        reprogramar_tramo();
        return;
    } catch (const ParadaEmulador &p) {
        error_ = p.what();
    } catch (...) {
        excepcion_mundo_ = std::current_exception();
    }
    parar_tramo_ = true;
    uc_emu_stop(uc_);
}

uint32_t Chip::leer_registro(uint32_t a, uint32_t)
{
    if (a >= PM && a < PM + 0x400) return pm_leer(a - PM);
    if (a >= SYSCTRL && a < SYSCTRL + 0x400) return sysctrl_leer(a - SYSCTRL);
    if (a >= GCLK && a < GCLK + 0x400) return gclk_leer(a - GCLK);
    if (a >= WDT && a < WDT + 0x400) return wdt_leer(a - WDT);
    if (a == DSU + 0x18) return 0x10010300u;  // DID: SAMD21J18A
    if (a >= NVMCTRL && a < NVMCTRL + 0x400) return nvm_leer(a - NVMCTRL);
    if (a >= PORT && a < PORT + 0x100) return port_leer((int)((a - PORT) / 0x80), (a - PORT) % 0x80);
    if (a >= PORT_IOBUS && a < PORT_IOBUS + 0x100) return port_leer((int)((a - PORT_IOBUS) / 0x80), (a - PORT_IOBUS) % 0x80);
    if (a >= SERCOM0 && a < SERCOM0 + 0x1800) {
        int n = (int)((a - SERCOM0) / 0x400);
        if (!reloj_bus_apbc(2 + n)) parar("SERCOM" + std::to_string(n) + " read with its bus clock off (PM.APBCMASK)", a);
        return sercom_leer(n, (a - SERCOM0) % 0x400);
    }
    if (a >= TCC0 && a < TCC0 + 0x400) {
        if (!reloj_bus_apbc(8)) parar("TCC0 read with its bus clock off (PM.APBCMASK)", a);
        return tcc0_leer(a - TCC0);
    }
    parar("read of an unmodelled register", a);
}

void Chip::escribir_registro(uint32_t a, uint32_t, uint32_t v, uint32_t m)
{
    if (a >= PM && a < PM + 0x400) return pm_escribir(a - PM, v, m);
    if (a >= SYSCTRL && a < SYSCTRL + 0x400) return sysctrl_escribir(a - SYSCTRL, v, m);
    if (a >= GCLK && a < GCLK + 0x400) return gclk_escribir(a - GCLK, v, m);
    if (a >= WDT && a < WDT + 0x400) return wdt_escribir(a - WDT, v, m);
    if (a >= NVMCTRL && a < NVMCTRL + 0x400) return nvm_escribir(a - NVMCTRL, v, m);
    if (a >= PORT && a < PORT + 0x100) return port_escribir((int)((a - PORT) / 0x80), (a - PORT) % 0x80, v, m);
    if (a >= PORT_IOBUS && a < PORT_IOBUS + 0x100)
        return port_escribir((int)((a - PORT_IOBUS) / 0x80), (a - PORT_IOBUS) % 0x80, v, m);
    if (a >= SERCOM0 && a < SERCOM0 + 0x1800) {
        int n = (int)((a - SERCOM0) / 0x400);
        if (!reloj_bus_apbc(2 + n)) parar("SERCOM" + std::to_string(n) + " written with its bus clock off (PM.APBCMASK)", a);
        return sercom_escribir(n, (a - SERCOM0) % 0x400, v, m);
    }
    if (a >= TCC0 && a < TCC0 + 0x400) {
        if (!reloj_bus_apbc(8)) parar("TCC0 written with its bus clock off (PM.APBCMASK)", a);
        return tcc0_escribir(a - TCC0, v, m);
    }
    parar("write to an unmodelled register", a);
}

void Chip::aviso_sincronizacion(const char *registro)
{
    violaciones_sincronizacion_++;
    if (avisos_.size() < 20)
        avisos_.push_back(std::string("write to ") + registro + " while it was still synchronising (SYNCBUSY) at PC " +
                          hex(leer_reg(UC_ARM_REG_PC)));
}

// ---------------------------------------------------------------- PM

uint32_t Chip::pm_leer(uint32_t r)
{
    switch (r) {
    case 0x00: return 0;
    case 0x01: return pm_.sleep;
    case 0x08: return pm_.cpusel;
    case 0x09: return pm_.apbasel;
    case 0x0A: return pm_.apbbsel;
    case 0x0B: return pm_.apbcsel;
    case 0x14: return pm_.ahbmask;
    case 0x18: return pm_.apbamask;
    case 0x1C: return pm_.apbbmask;
    case 0x20: return pm_.apbcmask;
    case 0x34: case 0x35: case 0x36: return 0;
    case 0x38: return pm_.rcause;
    default: break;
    }
    parar("read of an unmodelled PM register", PM + r);
}

void Chip::pm_escribir(uint32_t r, uint32_t v, uint32_t m)
{
    auto poner = [&](uint32_t &reg) { reg = (reg & ~m) | (v & m); };
    switch (r) {
    case 0x00: return;
    case 0x01: pm_.sleep = (uint8_t)(v & 3); return;
    case 0x08: case 0x09: case 0x0A: case 0x0B:
        if (v & 7) parar("CPU or bus clock prescaler not modelled (one instruction is one 48 MHz cycle)", PM + r);
        return;
    case 0x14: poner(pm_.ahbmask); return;
    case 0x18: poner(pm_.apbamask); return;
    case 0x1C: poner(pm_.apbbmask); return;
    case 0x20: poner(pm_.apbcmask); return;
    case 0x34: return;
    case 0x35: if (v) parar("PM interrupt not modelled", PM + r); return;
    case 0x36: return;
    case 0x38: return;  // read-only
    default: break;
    }
    parar("write to an unmodelled PM register", PM + r);
}

// ---------------------------------------------------------------- SYSCTRL

uint32_t Chip::sysctrl_leer(uint32_t r)
{
    uint64_t t = ahora();
    auto pclksr = [&]() {
        uint32_t s = 0;
        if ((sysctrl_.xosc32k & 2) && t >= sysctrl_.xosc32k_listo) s |= 1u << 1;
        if ((sysctrl_.osc32k & 2) && t >= sysctrl_.osc32k_listo) s |= 1u << 2;
        if (sysctrl_.osc8m & 2) s |= 1u << 3;
        if (t >= sysctrl_.dfll_listo) s |= 1u << 4;
        // Closed loop (MODE) with a reference: locked a little after the start.
        if ((sysctrl_.dfllctrl & 0x6) == 0x6 && t >= sysctrl_.dfll_listo + 48000) s |= (1u << 6) | (1u << 7);
        s |= 1u << 9;  // BOD33RDY
        return s;
    };
    switch (r) {
    case 0x00: case 0x04: return sysctrl_.inten;
    case 0x08: case 0x0C: return pclksr();
    case 0x10: return 0x0080;
    case 0x14: return sysctrl_.xosc32k;
    case 0x18: return sysctrl_.osc32k;
    case 0x1C: return sysctrl_.osculp32k;
    case 0x20: return sysctrl_.osc8m;
    case 0x24: return sysctrl_.dfllctrl;
    case 0x28: return sysctrl_.dfllval;
    case 0x2C: return sysctrl_.dfllmul;
    case 0x30: return 0;
    case 0x34: return sysctrl_.bod33;
    case 0x3C: return sysctrl_.vreg;
    case 0x40: return sysctrl_.vref;
    case 0x44: case 0x48: case 0x4C: case 0x50: return 0;
    default: break;
    }
    parar("read of an unmodelled SYSCTRL register", SYSCTRL + r);
}

void Chip::sysctrl_escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = ahora();
    auto poner = [&](uint32_t &reg) { reg = (reg & ~m) | (v & m); };
    switch (r) {
    case 0x00: sysctrl_.inten &= ~(v & m); return;
    case 0x04:
        if (v & m) parar("SYSCTRL interrupt not modelled", SYSCTRL + r);
        return;
    case 0x08: return;  // flags: write one to clear, read back from the ready state
    case 0x10:
        if (v & 2) parar("external crystal oscillator XOSC: the board has none", SYSCTRL + r);
        return;
    case 0x14: {
        bool antes = sysctrl_.xosc32k & 2;
        poner(sysctrl_.xosc32k);
        static const uint32_t arranque[8] = {1, 32, 2048, 4096, 16384, 32768, 65536, 131072};
        if (!antes && (sysctrl_.xosc32k & 2))
            sysctrl_.xosc32k_listo = t + (uint64_t)(HZ_CPU * arranque[(sysctrl_.xosc32k >> 8) & 7] / 32768.0);
        return;
    }
    case 0x18: {
        bool antes = sysctrl_.osc32k & 2;
        poner(sysctrl_.osc32k);
        if (!antes && (sysctrl_.osc32k & 2)) sysctrl_.osc32k_listo = t + 48 * 100;
        return;
    }
    case 0x1C: poner(sysctrl_.osculp32k); return;
    case 0x20: poner(sysctrl_.osc8m); return;
    case 0x24: case 0x28: case 0x2C:
        // The DFLL's registers take a write only when DFLLRDY says it is ready.
        if (t < sysctrl_.dfll_listo) aviso_sincronizacion("a DFLL48M register");
        poner(r == 0x24 ? sysctrl_.dfllctrl : r == 0x28 ? sysctrl_.dfllval : sysctrl_.dfllmul);
        sysctrl_.dfll_listo = t + 12;
        return;
    case 0x30: return;
    case 0x34: poner(sysctrl_.bod33); return;
    case 0x3C: poner(sysctrl_.vreg); return;
    case 0x40: poner(sysctrl_.vref); return;
    case 0x44:
        if (v & 2) parar("FDPLL96M not modelled", SYSCTRL + r);
        return;
    case 0x48: case 0x4C: return;
    default: break;
    }
    parar("write to an unmodelled SYSCTRL register", SYSCTRL + r);
}

// ---------------------------------------------------------------- GCLK

double Chip::hz_generador(int g) const
{
    if (g < 0 || g > 8) return 0;
    uint32_t c = gclk_.genctrl[g];
    if (!(c & (1u << 16))) return 0;
    double f = 0;
    switch ((c >> 8) & 0x1F) {
    case 0: f = 0; break;  // XOSC: no crystal on the board
    case 2: f = g == 1 ? 0 : hz_generador(1); break;
    case 3: f = 32768; break;
    case 4: f = (sysctrl_.osc32k & 2) ? 32768 : 0; break;
    case 5: f = (sysctrl_.xosc32k & 2) ? 32768 : 0; break;
    case 6: f = (sysctrl_.osc8m & 2) ? 8e6 / (1u << ((sysctrl_.osc8m >> 8) & 3)) : 0; break;
    case 7: f = (sysctrl_.dfllctrl & 2) ? 48e6 : 0; break;
    default: f = 0; break;
    }
    uint32_t div = (gclk_.gendiv[g] >> 8) & 0xFFFF;
    if (c & (1u << 20)) return f / std::ldexp(1.0, (int)div + 1);
    return f / (div ? div : 1);
}

double Chip::hz_periferico(int id) const
{
    uint16_t c = gclk_.clkctrl[id];
    if (!(c & (1u << 14))) return 0;
    return hz_generador((c >> 8) & 0xF);
}

uint32_t Chip::gclk_leer(uint32_t r)
{
    switch (r) {
    case 0x0: return 0;
    case 0x1: return ahora() < gclk_.ocupado_hasta ? 0x80u : 0u;
    case 0x2: return gclk_.clkctrl[gclk_.id_clk] | gclk_.id_clk;
    case 0x4: return gclk_.genctrl[gclk_.id_gen];
    case 0x8: return gclk_.gendiv[gclk_.id_div];
    default: break;
    }
    parar("read of an unmodelled GCLK register", GCLK + r);
}

void Chip::gclk_escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = ahora();
    switch (r) {
    case 0x0:
        if (v & 1) parar("GCLK software reset not modelled", GCLK);
        return;
    case 0x1: return;
    case 0x2: {
        uint32_t id = v & 0x3F;
        if (id >= 0x25) parar("GCLK.CLKCTRL for a channel that does not exist", GCLK + r);
        gclk_.id_clk = (uint8_t)id;
        if (m == 0xFF) return;  // the ID alone selects the channel to read
        if (gclk_.clkctrl[id] & 0x8000) return;  // WRTLOCK
        gclk_.clkctrl[id] = (uint16_t)(v & 0xCF00);
        break;
    }
    case 0x4: {
        uint32_t id = v & 0xF;
        if (id > 8) parar("GCLK.GENCTRL for a generator that does not exist", GCLK + r);
        gclk_.id_gen = (uint8_t)id;
        if (m == 0xFF) return;
        if (t < gclk_.ocupado_hasta) aviso_sincronizacion("GCLK.GENCTRL");
        gclk_.genctrl[id] = (v & 0x003F1F00u) | id;
        gclk_.ocupado_hasta = t + 8;
        break;
    }
    case 0x8: {
        uint32_t id = v & 0xF;
        if (id > 8) parar("GCLK.GENDIV for a generator that does not exist", GCLK + r);
        gclk_.id_div = (uint8_t)id;
        if (m == 0xFF) return;
        if (t < gclk_.ocupado_hasta) aviso_sincronizacion("GCLK.GENDIV");
        gclk_.gendiv[id] = (v & 0x00FFFF00u) | id;
        gclk_.ocupado_hasta = t + 8;
        break;
    }
    default:
        parar("write to an unmodelled GCLK register", GCLK + r);
    }
    // Clocks changed: the timers' next events move.
    tcc0_programar();
    wdt_programar();
}

// ---------------------------------------------------------------- WDT

void Chip::wdt_programar()
{
    if (!(wdt_.ctrl & 2)) {
        wdt_.vence = placa::NUNCA;
        return;
    }
    if (wdt_.vence == placa::NUNCA) {
        double hz = hz_periferico(GCLK_WDT);
        if (hz <= 0) return;  // no clock: the counter stands
        uint64_t ciclos = (uint64_t)std::llround((double)(8u << (wdt_.config & 0xF)) * HZ_CPU / hz);
        wdt_.vence = ahora() + ciclos;
    }
}

uint32_t Chip::wdt_leer(uint32_t r)
{
    switch (r) {
    case 0x0: return wdt_.ctrl;
    case 0x1: return wdt_.config;
    case 0x2: return wdt_.ewctrl;
    case 0x4: case 0x5: return wdt_.inten;
    case 0x6: return 0;
    case 0x7: return ahora() < wdt_.ocupado_hasta ? 0x80u : 0u;
    case 0x8: return 0;
    default: break;
    }
    parar("read of an unmodelled WDT register", WDT + r);
}

void Chip::wdt_escribir(uint32_t r, uint32_t v, uint32_t)
{
    uint64_t t = ahora();
    double hz = hz_periferico(GCLK_WDT);
    // Writes cross into the watchdog's slow clock domain: a few of its cycles.
    uint64_t sincronizacion = hz > 0 ? (uint64_t)(3.0 * HZ_CPU / hz) : placa::NUNCA / 2;
    if (r != 0x4 && r != 0x5 && r != 0x6 && t < wdt_.ocupado_hasta) aviso_sincronizacion("a WDT register");
    auto periodo = [&](uint32_t campo) {
        return hz > 0 ? (uint64_t)std::llround((double)(8u << (campo & 0xF)) * HZ_CPU / hz) : placa::NUNCA / 4;
    };
    switch (r) {
    case 0x0: {
        uint8_t nuevo = (uint8_t)(v & 0x86);
        if (wdt_.ctrl & 0x80) nuevo |= 0x82;  // always-on: stays on
        bool antes = wdt_.ctrl & 2;
        if (antes && (wdt_.ctrl & 0x04) != (nuevo & 0x04)) escrituras_protegidas_++;
        wdt_.ctrl = nuevo;
        wdt_.ocupado_hasta = t + sincronizacion;
        if (!(nuevo & 2)) wdt_.vence = placa::NUNCA;
        else if (!antes) {
            wdt_.vence = t + sincronizacion + periodo(wdt_.config);
            wdt_.ventana_hasta = (wdt_.ctrl & 4) ? t + periodo(wdt_.config >> 4) : 0;
        }
        return;
    }
    case 0x1:
        if (wdt_.ctrl & 2) { escrituras_protegidas_++; return; }  // enable-protected
        wdt_.config = (uint8_t)v;
        wdt_.ocupado_hasta = t + sincronizacion;
        return;
    case 0x2:
        if (wdt_.ctrl & 2) { escrituras_protegidas_++; return; }
        wdt_.ewctrl = (uint8_t)(v & 0xF);
        return;
    case 0x4: wdt_.inten &= (uint8_t)~v; return;
    case 0x5:
        if (v & 1) parar("WDT early-warning interrupt not modelled", WDT + r);
        return;
    case 0x6: return;
    case 0x7: return;
    case 0x8:
        if ((v & 0xFF) != 0xA5) {
            // Any other key resets the chip at once.
            reinicio_pendiente_ = true;
            causa_reinicio_ = CAUSA_RESET_SISTEMA;
            rcause_pendiente_ = 0x20;
            return;
        }
        if (!(wdt_.ctrl & 2)) return;
        if ((wdt_.ctrl & 4) && t < wdt_.ventana_hasta) {
            // Cleared inside the closed window: a reset.
            reinicio_pendiente_ = true;
            causa_reinicio_ = placa::CAUSA_WATCHDOG;
            rcause_pendiente_ = 0x20;
            return;
        }
        wdt_.vence = t + sincronizacion + periodo(wdt_.config);
        wdt_.ventana_hasta = (wdt_.ctrl & 4) ? t + sincronizacion + periodo(wdt_.config >> 4) : 0;
        wdt_.ocupado_hasta = t + sincronizacion;
        return;
    default: break;
    }
    parar("write to an unmodelled WDT register", WDT + r);
}

// ---------------------------------------------------------------- NVMCTRL

uint32_t Chip::nvm_leer(uint32_t r)
{
    switch (r) {
    case 0x00: return 0;
    case 0x04: return nvm_.ctrlb;
    case 0x08: return 0x00031000u;  // 4096 pages of 64 bytes
    case 0x0C: case 0x10: return nvm_.inten;
    case 0x14: return 1u | (nvm_.intflag_error ? 2u : 0u);  // READY: the core stalls while the flash is busy
    case 0x18: return (uint32_t)nvm_.status | (nvm_.buffer_cargado ? 2u : 0u);
    case 0x1C: return nvm_.addr;
    case 0x20: return nvm_.lock;
    default: break;
    }
    parar("read of an unmodelled NVMCTRL register", NVMCTRL + r);
}

void Chip::nvm_escribir(uint32_t r, uint32_t v, uint32_t m)
{
    switch (r) {
    case 0x00:
        if (m != 0xFFFF) parar("NVMCTRL.CTRLA written by halves: the command and its key go together", NVMCTRL + r);
        if (((v >> 8) & 0xFF) != 0xA5) {
            nvm_.status |= 0x04;  // PROGE
            nvm_.intflag_error = 1;
            return;
        }
        nvm_comando(v & 0x7F);
        return;
    case 0x04: nvm_.ctrlb = ((nvm_.ctrlb & ~m) | (v & m)) & 0x000703DEu; return;
    case 0x08: return;
    case 0x0C: nvm_.inten &= (uint8_t)~v; return;
    case 0x10:
        if (v & 3) parar("NVMCTRL interrupt not modelled", NVMCTRL + r);
        return;
    case 0x14:
        if (v & 2) nvm_.intflag_error = 0;
        return;
    case 0x18:
        nvm_.status &= (uint16_t)~(v & 0x1C);
        if (v & 2) nvm_.buffer_cargado = false;
        return;
    case 0x1C: nvm_.addr = ((nvm_.addr & ~m) | (v & m)) & 0x003FFFFFu; return;
    case 0x20: return;
    default: break;
    }
    parar("write to an unmodelled NVMCTRL register", NVMCTRL + r);
}

void Chip::nvm_comando(uint32_t cmd)
{
    uint32_t byte = nvm_.addr * 2;  // ADDR counts 16-bit words
    bool en_eeprom = byte >= EEPROM_BASE && byte < EEPROM_BASE + EEPROM_BYTES;
    bool en_fila = byte >= FILA_USUARIO && byte < FILA_USUARIO + FILA_NVM;
    // Programming stalls the core: the application runs from the same flash.
    constexpr uint64_t T_BORRADO_FILA = 288000;   // 6 ms
    constexpr uint64_t T_ESCRITURA_PAGINA = 120000;  // 2.5 ms
    switch (cmd) {
    case 0x02:  // ER: erase row
        if (en_eeprom) {
            std::memset(flash_.data() + (byte & ~(FILA_NVM - 1)), 0xFF, FILA_NVM);
            nvm_.borrados_eeprom++;
            nvm_guardar_fichero();
        } else if (byte < FLASH_BYTES) {
            parar("row erase in the application's flash, outside the EEPROM rows", byte);
        } else {
            nvm_.status |= 0x04;
            nvm_.intflag_error = 1;
            return;
        }
        estancado_ += T_BORRADO_FILA;
        break;
    case 0x04:  // WP: write page
        if (!en_eeprom) {
            if (byte < FLASH_BYTES) parar("page write in the application's flash, outside the EEPROM rows", byte);
            nvm_.status |= 0x04;
            nvm_.intflag_error = 1;
            return;
        }
        if (long long corte = mundo_.tomar_corte_en_commit(); corte >= 0) {
            // The power goes while the page is programmed: only its first
            // bytes reach the flash.
            uint32_t n = (uint32_t)std::min<long long>(corte % (PAGINA_NVM + 1), PAGINA_NVM);
            for (uint32_t i = 0; i < n; i++) flash_[(byte & ~(PAGINA_NVM - 1)) + i] &= nvm_.buffer[i];
            nvm_guardar_fichero();
            throw placa::ReinicioPlaca{placa::CAUSA_CORTE, ahora()};
        }
        for (uint32_t i = 0; i < PAGINA_NVM; i++) flash_[(byte & ~(PAGINA_NVM - 1)) + i] &= nvm_.buffer[i];
        nvm_.paginas_escritas++;
        std::memset(nvm_.buffer, 0xFF, sizeof nvm_.buffer);
        nvm_.buffer_cargado = false;
        nvm_guardar_fichero();
        estancado_ += T_ESCRITURA_PAGINA;
        break;
    case 0x05:  // EAR: erase the auxiliary row
        if (!en_fila) { nvm_.status |= 0x04; nvm_.intflag_error = 1; return; }
        std::fill(fila_usuario_.begin(), fila_usuario_.end(), 0xFF);
        nvm_guardar_fichero();
        estancado_ += T_BORRADO_FILA;
        break;
    case 0x06:  // WAP: write an auxiliary page
        if (!en_fila) { nvm_.status |= 0x04; nvm_.intflag_error = 1; return; }
        if ((byte & ~(PAGINA_NVM - 1)) == FILA_USUARIO)
            for (uint32_t i = 0; i < FILA_USUARIO_BYTES; i++) fila_usuario_[i] &= nvm_.buffer[i];
        nvm_.escrituras_fila_usuario++;
        std::memset(nvm_.buffer, 0xFF, sizeof nvm_.buffer);
        nvm_.buffer_cargado = false;
        nvm_guardar_fichero();
        estancado_ += T_ESCRITURA_PAGINA;
        break;
    case 0x44:  // PBC: page buffer clear
        std::memset(nvm_.buffer, 0xFF, sizeof nvm_.buffer);
        nvm_.buffer_cargado = false;
        estancado_ += 64;
        break;
    case 0x46:  // INVALL: the cache holds nothing of ours
        break;
    default:
        parar("NVMCTRL command " + hex(cmd) + " not modelled", NVMCTRL);
    }
    parar_tramo_ = true;
}

uint64_t Chip::leer_nvm_espacio(uint32_t d, unsigned ancho)
{
    if (registrar_mmio_) registro_mmio_[{d, ancho, 'R'}]++;
    uint64_t v = 0;
    for (unsigned i = 0; i < ancho; i++) {
        uint32_t a = d + i;
        uint8_t b = 0xFF;
        if (a >= EEPROM_BASE && a < EEPROM_BASE + EEPROM_BYTES) b = flash_[a];
        else if (a >= FILA_USUARIO && a < FILA_USUARIO + FILA_USUARIO_BYTES) b = fila_usuario_[a - FILA_USUARIO];
        else if (a >= FILA_USUARIO && a < FILA_USUARIO + FILA_NVM) b = 0xFF;
        else if (a >= CALIBRACION && a < CALIBRACION + 8) {
            // Software calibration row: DFLL48M coarse value 0x1F, the rest unprogrammed.
            const uint8_t cal[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
            b = cal[a - CALIBRACION];
        } else if ((a >= 0x0080A00Cu && a < 0x0080A010u) || (a >= 0x0080A040u && a < 0x0080A04Cu)) {
            b = (uint8_t)(0x5A ^ (a & 0xFF));  // the serial number
        } else {
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
        bool en_eeprom = d >= EEPROM_BASE && d < EEPROM_BASE + EEPROM_BYTES;
        bool en_fila = d >= FILA_USUARIO && d < FILA_USUARIO + FILA_NVM;
        if (!en_eeprom && !en_fila) parar("write to the NVM space outside the EEPROM rows and the user row", d);
        if (ancho == 1) parar("8-bit write to the NVM page buffer (only 16 and 32 bits are taken)", d);
        uint32_t off = d & (PAGINA_NVM - 1);
        for (unsigned i = 0; i < ancho && off + i < PAGINA_NVM; i++) nvm_.buffer[off + i] = (uint8_t)(valor >> (8 * i));
        nvm_.buffer_cargado = true;
        nvm_.addr = d / 2;
        // Automatic page write when the page's last word is written (CTRLB.MANW = 0).
        if (!(nvm_.ctrlb & 0x80) && off + ancho >= PAGINA_NVM) nvm_comando(en_fila ? 0x06 : 0x04);
        return;
    } catch (const ParadaEmulador &p) {
        error_ = p.what();
    } catch (...) {
        excepcion_mundo_ = std::current_exception();
    }
    parar_tramo_ = true;
    uc_emu_stop(uc_);
}

// The flash file: the EEPROM rows, then the user row.
void Chip::nvm_cargar_fichero()
{
    if (ruta_flash_.empty()) return;
    std::ifstream f(ruta_flash_, std::ios::binary);
    if (!f) return;  // a new chip: erased rows
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() != EEPROM_BYTES + FILA_USUARIO_BYTES) {
        // Not this board's flash (the host board's EEPROM file, or damaged):
        // kept aside untouched, and the chip starts with erased rows.
        std::string aparte = ruta_flash_ + ".not-samd21";
        std::error_code ec;
        std::filesystem::copy_file(ruta_flash_, aparte, std::filesystem::copy_options::overwrite_existing, ec);
        std::fprintf(stderr, "olas-sim: %s is not an ATSAMD21 flash file (%zu bytes, expected %u); kept as %s, "
                             "starting from erased EEPROM rows\n",
                     ruta_flash_.c_str(), d.size(), EEPROM_BYTES + FILA_USUARIO_BYTES, aparte.c_str());
        return;
    }
    std::memcpy(flash_.data() + EEPROM_BASE, d.data(), EEPROM_BYTES);
    std::memcpy(fila_usuario_.data(), d.data() + EEPROM_BYTES, FILA_USUARIO_BYTES);
}

void Chip::nvm_guardar_fichero()
{
    if (ruta_flash_.empty()) return;
    std::string tmp = ruta_flash_ + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) return;
    bool ok = std::fwrite(flash_.data() + EEPROM_BASE, 1, EEPROM_BYTES, f) == EEPROM_BYTES &&
              std::fwrite(fila_usuario_.data(), 1, FILA_USUARIO_BYTES, f) == FILA_USUARIO_BYTES;
    ok = std::fclose(f) == 0 && ok;
    if (ok) std::rename(tmp.c_str(), ruta_flash_.c_str());
}

// ---------------------------------------------------------------- PORT

bool Chip::pin_funcion(int g, int p, int funcion) const
{
    const PuertoPines &q = port_[g];
    if (!(q.pincfg[p] & 1)) return false;
    int f = (p & 1) ? q.pmux[p / 2] >> 4 : q.pmux[p / 2] & 0xF;
    return f == funcion;
}

int Chip::nivel_pin(int g, int p) const
{
    const PuertoPines &q = port_[g];
    if ((q.dir >> p) & 1) return (int)((q.out >> p) & 1);
    for (const PinPlaca &pp : PINES_PLACA)
        if (pp.grupo == g && pp.numero == p) {
            int e = mundo_.nivel_externo(pp.placa);
            if (e >= 0) return e ? 1 : 0;
        }
    if (q.pincfg[p] & 4) return (int)((q.out >> p) & 1);  // pull-up or pull-down by OUT
    return 0;
}

uint32_t Chip::port_leer(int g, uint32_t r)
{
    PuertoPines &q = port_[g];
    if (r <= 0x0C) return q.dir;
    if (r <= 0x1C) return q.out;
    if (r == 0x20) {
        uint32_t in = 0;
        for (int p = 0; p < 32; p++)
            if ((q.pincfg[p] & 2) && nivel_pin(g, p)) in |= 1u << p;
        return in;
    }
    if (r == 0x24) return q.ctrl;
    if (r == 0x28) return 0;
    if (r >= 0x30 && r < 0x40) return q.pmux[r - 0x30];
    if (r >= 0x40 && r < 0x60) return q.pincfg[r - 0x40];
    parar("read of an unmodelled PORT register", PORT + 0x80 * g + r);
}

void Chip::port_escribir(int g, uint32_t r, uint32_t v, uint32_t m)
{
    PuertoPines &q = port_[g];
    v &= m;
    switch (r) {
    case 0x00: q.dir = (q.dir & ~m) | v; break;
    case 0x04: q.dir &= ~v; break;
    case 0x08: q.dir |= v; break;
    case 0x0C: q.dir ^= v; break;
    case 0x10: q.out = (q.out & ~m) | v; break;
    case 0x14: q.out &= ~v; break;
    case 0x18: q.out |= v; break;
    case 0x1C: q.out ^= v; break;
    case 0x20: return;  // IN is read-only
    case 0x24: q.ctrl = (q.ctrl & ~m) | v; return;
    case 0x28: {
        if (m != 0xFFFFFFFFu) parar("PORT.WRCONFIG written by parts", PORT + 0x80 * g + r);
        int base = (v >> 31) ? 16 : 0;
        for (int i = 0; i < 16; i++) {
            if (!((v >> i) & 1)) continue;
            int p = base + i;
            if (v & (1u << 30)) q.pincfg[p] = (uint8_t)(((v >> 16) & 0x07) | ((v >> 16) & 0x40));
            if (v & (1u << 28)) {
                uint8_t f = (uint8_t)((v >> 24) & 0xF);
                q.pmux[p / 2] = (p & 1) ? (uint8_t)((q.pmux[p / 2] & 0x0F) | f << 4) : (uint8_t)((q.pmux[p / 2] & 0xF0) | f);
            }
        }
        return;
    }
    default:
        if (r >= 0x30 && r < 0x40) { q.pmux[r - 0x30] = (uint8_t)v; return; }
        if (r >= 0x40 && r < 0x60) { q.pincfg[r - 0x40] = (uint8_t)(v & 0x47); return; }
        parar("write to an unmodelled PORT register", PORT + 0x80 * g + r);
    }
    pines_cambiados();
}

void Chip::pines_cambiados()
{
    bool cs = !((port_[GRUPO_CS].dir >> PIN_CS) & 1) || ((port_[GRUPO_CS].out >> PIN_CS) & 1);
    if (cs && !cs_tarjeta_) tarjeta_.deseleccionar();
    cs_tarjeta_ = cs;
    for (const PinPlaca &pp : PINES_PLACA) {
        const PuertoPines &q = port_[pp.grupo];
        if (!((q.dir >> pp.numero) & 1)) continue;
        int nivel = (int)((q.out >> pp.numero) & 1);
        int &antes = salida_notificada_[pp.grupo][pp.numero];
        if (nivel != antes) {
            antes = nivel;
            sincronizar_mundo();
            mundo_.notificar_pin(pp.placa, nivel);
        }
    }
}

// ---------------------------------------------------------------- SERCOM

uint32_t Chip::usart_baudios(int n) const
{
    const Sercom &s = sercom_[n];
    double fref = hz_periferico(GCLK_SERCOM0 + n);
    if (fref <= 0) return 0;
    int sampr = (int)((s.ctrla >> 13) & 7);
    double f = 0;
    switch (sampr) {
    case 0: f = fref / 16.0 * (1.0 - s.baud / 65536.0); break;
    case 2: f = fref / 8.0 * (1.0 - s.baud / 65536.0); break;
    case 4: f = fref / 3.0 * (1.0 - s.baud / 65536.0); break;
    case 1: case 3: {
        double ent = (double)(s.baud & 0x1FFF) + (double)((s.baud >> 13) & 7) / 8.0;
        f = ent > 0 ? fref / ((sampr == 1 ? 16.0 : 8.0) * ent) : 0;
        break;
    }
    default: f = 0;
    }
    return f > 0 ? (uint32_t)std::llround(f) : 0;
}

bool Chip::usart_tx_conectada(int n) const
{
    const Cableado &c = CABLEADO[n];
    return c.puerto >= 0 && (int)((sercom_[n].ctrla >> 16) & 3) == c.txpo && pin_funcion(c.grupo_tx, c.pin_tx, c.funcion);
}

bool Chip::usart_rx_conectada(int n) const
{
    const Cableado &c = CABLEADO[n];
    return c.puerto >= 0 && (int)((sercom_[n].ctrla >> 20) & 3) == c.rxpo && pin_funcion(c.grupo_rx, c.pin_rx, c.funcion);
}

void Chip::sercom_reset(int n)
{
    uint64_t perdidos = sercom_[n].perdidos_tx;
    sercom_[n] = Sercom{};
    sercom_[n].perdidos_tx = perdidos;
}

uint32_t Chip::sercom_leer(int n, uint32_t r)
{
    Sercom &s = sercom_[n];
    switch (r) {
    case 0x00: return s.ctrla;
    case 0x04: return s.ctrlb;
    case 0x0C: return s.baud;
    case 0x0E: return s.rxpl;
    case 0x14: case 0x16: return s.intenset;
    case 0x18: {
        if (!(s.ctrla & 2)) return 0;
        return (s.dato_tx_lleno ? 0u : 1u) | (s.txc ? 2u : 0u) | (s.rx.empty() ? 0u : 4u) | (s.rxs ? 8u : 0u) |
               (s.error ? 0x80u : 0u);
    }
    case 0x1A: return s.status;
    case 0x1C: return ahora() < s.ocupado_hasta ? (s.ctrla & 1 ? 1u : 2u) : 0u;
    case 0x24: return s.addr;
    case 0x28: {
        if (s.rx.empty()) return 0;
        uint16_t b = s.rx.front();
        s.rx.erase(s.rx.begin());
        return b;
    }
    case 0x30: return s.dbgctrl;
    default: break;
    }
    parar("read of an unmodelled SERCOM register", SERCOM0 + 0x400 * n + r);
}

void Chip::sercom_escribir(int n, uint32_t r, uint32_t v, uint32_t m)
{
    Sercom &s = sercom_[n];
    uint64_t t = ahora();
    bool habilitado = s.ctrla & 2;
    auto protegido = [&](uint32_t &reg) {
        if (habilitado) { escrituras_protegidas_++; return; }  // enable-protected: ignored while enabled
        reg = (reg & ~m) | (v & m);
    };
    switch (r) {
    case 0x00: {
        if (t < s.ocupado_hasta && ((v & m & 3) || habilitado)) aviso_sincronizacion("SERCOM.CTRLA");
        if (v & 1) {
            sercom_reset(n);
            sercom_[n].ocupado_hasta = t + 6;
            sercom_[n].ctrla = 1;
            return;
        }
        if (habilitado) {
            // Only ENABLE may change while enabled.
            if ((v & m & ~2u) != (s.ctrla & m & ~2u)) escrituras_protegidas_++;
            s.ctrla = (s.ctrla & ~2u) | (v & 2u);
        } else {
            s.ctrla = (s.ctrla & ~m) | (v & m);
        }
        s.ctrla &= ~1u;
        if ((s.ctrla & 2) && !habilitado) {
            uint32_t modo = (s.ctrla >> 2) & 7;
            if (modo != 1 && modo != 3)
                parar("SERCOM mode " + std::to_string(modo) + " not modelled (USART with internal clock, SPI master)",
                      SERCOM0 + 0x400 * n);
            if (hz_periferico(GCLK_SERCOM0 + n) <= 0) {
                // No core clock: the enable never synchronises, as on the chip.
                s.ocupado_hasta = placa::NUNCA;
                if (avisos_.size() < 20) avisos_.push_back("SERCOM" + std::to_string(n) + " enabled without its GCLK core clock");
                return;
            }
        }
        // Only ENABLE (and SWRST) are write-synchronised in CTRLA.
        if ((s.ctrla & 2) != (habilitado ? 2u : 0u)) s.ocupado_hasta = t + 6;
        return;
    }
    case 0x04:
        if (habilitado && t < s.ocupado_hasta) aviso_sincronizacion("SERCOM.CTRLB");
        if (habilitado) {
            // RXEN may change while enabled (synchronised); the rest is protected.
            if ((v & m & ~(1u << 17)) != (s.ctrlb & m & ~(1u << 17))) escrituras_protegidas_++;
            s.ctrlb = (s.ctrlb & ~(1u << 17)) | (v & (1u << 17));
            s.ocupado_hasta = t + 6;
        } else {
            s.ctrlb = (s.ctrlb & ~m) | (v & m);
        }
        return;
    case 0x0C: protegido(s.baud); s.baud &= 0xFFFF; return;
    case 0x0E: if (!habilitado) s.rxpl = (uint8_t)v; return;
    case 0x14: s.intenset &= ~v; return;
    case 0x16:
        if (v & ~0x87u) parar("SERCOM interrupt not modelled", SERCOM0 + 0x400 * n + r);
        s.intenset |= v;
        return;
    case 0x18:
        if (v & 2) s.txc = false;
        if (v & 8) s.rxs = false;
        if (v & 0x80) s.error = false;
        return;
    case 0x1A: s.status &= (uint16_t)~(v & 0x37); return;
    case 0x1C: return;
    case 0x24: s.addr = v; return;
    case 0x28: {
        if (!habilitado) { s.perdidos_tx++; return; }
        uint8_t byte = (uint8_t)v;
        if (((s.ctrla >> 2) & 7) == 3) {
            // SPI master: the byte goes out and one comes in, at once.
            uint8_t salida = (s.ctrla & (1u << 30)) ? invertir_bits(byte) : byte;
            uint8_t entrada = 0xFF;
            bool cableado = ((s.ctrla >> 16) & 3) == 0 && ((s.ctrla >> 20) & 3) == 3 && pin_funcion(0, 16, FUNC_C) &&
                            pin_funcion(0, 17, FUNC_C) && pin_funcion(0, 19, FUNC_C);
            bool modo0 = !(s.ctrla & (3u << 28));
            if (n == 1 && !cs_tarjeta_ && cableado) {
                entrada = tarjeta_.transferir(modo0 ? salida : (uint8_t)(salida ^ 0x5A), t);
                if (!modo0) entrada ^= 0x3C;
            }
            if (s.ctrla & (1u << 30)) entrada = invertir_bits(entrada);
            if (s.ctrlb & (1u << 17)) {
                if (s.rx.size() >= 2) { s.status |= 4; s.error = true; }
                else s.rx.push_back(entrada);
            }
            s.txc = true;
            return;
        }
        if (!(s.ctrlb & (1u << 16))) { s.perdidos_tx++; return; }
        if (!s.tx_en_curso) {
            s.dato_tx = byte;
            s.dato_tx_lleno = true;
            usart_evento(n);
        } else if (!s.dato_tx_lleno) {
            s.dato_tx = byte;
            s.dato_tx_lleno = true;
        } else {
            s.perdidos_tx++;  // DATA written while DRE was low: the byte is lost
        }
        s.txc = false;
        return;
    }
    case 0x30: s.dbgctrl = v & 1; return;
    default: break;
    }
    parar("write to an unmodelled SERCOM register", SERCOM0 + 0x400 * n + r);
}

// The shift register finished a byte (or is idle): the next one in the data
// register starts at once.
void Chip::usart_evento(int n)
{
    Sercom &s = sercom_[n];
    uint64_t t = ahora();
    if (!s.dato_tx_lleno) {
        s.tx_en_curso = false;
        s.txc = true;
        return;
    }
    uint8_t byte = s.dato_tx;
    s.dato_tx_lleno = false;
    uint32_t baudios = usart_baudios(n);
    if (!(s.ctrla & (1u << 30))) byte = invertir_bits(byte);  // DORD = 0: most significant bit first
    bool ocho_n_uno = (s.ctrlb & 7) == 0 && ((s.ctrla >> 24) & 0xF) == 0 && !(s.ctrlb & (1u << 6));
    if (!ocho_n_uno) byte = placa::byte_recibido(byte, baudios, baudios / 2 + 1);
    s.tx_en_curso = true;
    if (baudios == 0) {
        s.fin_tx = placa::NUNCA;  // no clock: the shift register stands
        return;
    }
    if (usart_tx_conectada(n)) {
        sincronizar_mundo();
        s.fin_tx = mundo_.transmitir(CABLEADO[n].puerto, byte, baudios);
    } else {
        s.fin_tx = t + (uint64_t)std::llround(10.0 * HZ_CPU / baudios);
    }
}

void Chip::usart_llegadas(int n)
{
    Sercom &s = sercom_[n];
    int p = CABLEADO[n].puerto;
    uint8_t b;
    uint32_t baudios;
    while (mundo_.tomar_llegada(p, b, baudios)) {
        placa::EstadisticasPuerto &st = mundo_.estadisticas_puerto(p);
        bool escucha = (s.ctrla & 2) && ((s.ctrla >> 2) & 7) == 1 && (s.ctrlb & (1u << 17)) && usart_rx_conectada(n);
        if (!escucha) {
            st.bytes_puerto_cerrado++;
            continue;
        }
        uint8_t leido = placa::byte_recibido(b, baudios, usart_baudios(n));
        if (!(s.ctrla & (1u << 30))) leido = invertir_bits(leido);
        // Two-level receive buffer, and the shift register holding a third.
        if (s.rx.size() >= 3) {
            s.status |= 4;  // BUFOVF
            s.error = true;
            st.bytes_descartados++;
            continue;
        }
        s.rx.push_back(leido);
        st.bytes_recibidos++;
    }
}

// ---------------------------------------------------------------- TCC0

uint64_t Chip::tcc0_ciclos_por_cuenta() const
{
    static const uint32_t divisores[8] = {1, 2, 4, 8, 16, 64, 256, 1024};
    double hz = hz_periferico(GCLK_TCC0);
    if (hz <= 0) return 0;
    return (uint64_t)std::llround(HZ_CPU / hz) * divisores[(tcc0_.ctrla >> 8) & 7];
}

uint32_t Chip::tcc0_cuenta() const
{
    uint64_t cpc = tcc0_ciclos_por_cuenta();
    if (!(tcc0_.ctrla & 2) || cpc == 0) return (uint32_t)tcc0_.origen;  // stopped: origen holds the count
    uint64_t tope = ((tcc0_.wave & 7) == 1 ? tcc0_.cc[0] : tcc0_.per) + 1;
    uint64_t t = ahora();
    if (t < tcc0_.origen) return 0;
    return (uint32_t)(((t - tcc0_.origen) / cpc) % tope);
}

void Chip::tcc0_programar()
{
    tcc0_.prox_mc0 = tcc0_.prox_ovf = placa::NUNCA;
    uint64_t cpc = tcc0_ciclos_por_cuenta();
    if (!(tcc0_.ctrla & 2) || cpc == 0) return;
    uint64_t tope = ((tcc0_.wave & 7) == 1 ? tcc0_.cc[0] : tcc0_.per) + 1;
    uint64_t periodo = tope * cpc;
    uint64_t t = std::max(ahora(), tcc0_.origen);
    uint64_t k = (t - tcc0_.origen) / periodo;
    tcc0_.prox_ovf = tcc0_.origen + (k + 1) * periodo;
    if (tcc0_.cc[0] < tope) {
        uint64_t m = tcc0_.origen + k * periodo + (uint64_t)tcc0_.cc[0] * cpc;
        if (m <= t) m += periodo;
        if (tcc0_.cc[0] == 0 && m == tcc0_.prox_ovf) m = tcc0_.prox_ovf;
        tcc0_.prox_mc0 = m;
    }
}

uint32_t Chip::tcc0_leer(uint32_t r)
{
    switch (r) {
    case 0x00: return tcc0_.ctrla;
    case 0x04: case 0x05: return tcc0_.ctrlb;
    case 0x08: return ahora() < tcc0_.ocupado_hasta ? 0x1FFu : 0u;
    case 0x0C: case 0x10: case 0x14: case 0x38: case 0x64: return 0;
    case 0x18: return tcc0_.drvctrl;
    case 0x1E: return tcc0_.dbgctrl;
    case 0x20: return tcc0_.evctrl;
    case 0x24: case 0x28: return tcc0_.intenset;
    case 0x2C: return tcc0_.intflag;
    case 0x30: return (tcc0_.ctrla & 2) ? 0u : 1u;  // STOP
    case 0x34: return tcc0_cuenta();
    case 0x3C: case 0x68: return tcc0_.wave;
    case 0x40: return tcc0_.per;
    case 0x6C: return tcc0_.perb;
    case 0x44: case 0x48: case 0x4C: case 0x50: return tcc0_.cc[(r - 0x44) / 4];
    case 0x70: case 0x74: case 0x78: case 0x7C: return tcc0_.cc[(r - 0x70) / 4];
    default: break;
    }
    parar("read of an unmodelled TCC0 register", TCC0 + r);
}

void Chip::tcc0_escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = ahora();
    bool habilitado = tcc0_.ctrla & 2;
    auto cuenta_actual = tcc0_cuenta();
    auto reanclar = [&](uint32_t cuenta) {
        uint64_t cpc = tcc0_ciclos_por_cuenta();
        if ((tcc0_.ctrla & 2) && cpc) tcc0_.origen = t - std::min<uint64_t>(t, (uint64_t)cuenta * cpc);
        else tcc0_.origen = cuenta;
    };
    switch (r) {
    case 0x00: {
        if (t < tcc0_.ocupado_hasta) aviso_sincronizacion("TCC0.CTRLA");
        if (v & m & 1) {
            uint64_t c = tcc0_.coincidencias;
            tcc0_ = Tcc0{};
            tcc0_.coincidencias = c;
            tcc0_.ocupado_hasta = t + 6;
            mundo_.tcc0_periodo(tcc0_.per);
            return;
        }
        uint32_t nuevo = (tcc0_.ctrla & ~m) | (v & m);
        if (habilitado && ((nuevo ^ tcc0_.ctrla) & ~2u)) { escrituras_protegidas_++; nuevo = (tcc0_.ctrla & ~2u) | (nuevo & 2u); }
        if ((nuevo >> 5) & 3) parar("TCC0 dithering resolution not modelled", TCC0);
        tcc0_.ctrla = nuevo & ~1u;
        tcc0_.ocupado_hasta = t + 6;
        if (!habilitado && (nuevo & 2)) {
            tcc0_.ctrla &= ~2u;
            tcc0_.ctrla |= 2u;
            reanclar((uint32_t)tcc0_.origen);
        } else if (habilitado && !(nuevo & 2)) {
            tcc0_.origen = cuenta_actual;
        }
        tcc0_programar();
        return;
    }
    case 0x04: case 0x05: {
        uint32_t bits = v & 0xFF;
        if (r == 0x04) { tcc0_.ctrlb &= ~(bits & 0x7); return; }
        if (bits & 0x5) parar("TCC0 counting down or one-shot not modelled", TCC0 + r);
        tcc0_.ctrlb |= bits & 0x2;
        switch ((bits >> 5) & 7) {
        case 1: reanclar(0); tcc0_programar(); break;        // RETRIGGER
        case 2: tcc0_.origen = cuenta_actual; tcc0_.ctrla &= ~2u; tcc0_programar(); break;  // STOP
        default: break;                                      // NONE, UPDATE, READSYNC
        }
        tcc0_.ocupado_hasta = t + 6;
        return;
    }
    case 0x08: case 0x30: return;
    case 0x0C: case 0x10: case 0x14: case 0x38: case 0x64:
        if (v & m) parar("TCC0 faults, output matrix and patterns not modelled", TCC0 + r);
        return;
    case 0x18: tcc0_.drvctrl = v; return;
    case 0x1E: tcc0_.dbgctrl = v & 0xFF; return;
    case 0x20:
        if (v & m) parar("TCC0 events not modelled", TCC0 + r);
        return;
    case 0x24: tcc0_.intenset &= ~(v & m); return;
    case 0x28:
        if (v & m & ~0x00010001u) parar("TCC0 interrupt other than overflow and match 0 not modelled", TCC0 + r);
        tcc0_.intenset |= v & m;
        return;
    case 0x2C: tcc0_.intflag &= ~(v & m); return;
    case 0x34:
        if (t < tcc0_.ocupado_hasta) aviso_sincronizacion("TCC0.COUNT");
        reanclar((v & m) & 0xFFFFFF);
        tcc0_programar();
        tcc0_.ocupado_hasta = t + 6;
        return;
    case 0x3C: case 0x68: {
        uint32_t w = (tcc0_.wave & ~m) | (v & m);
        if ((w & 7) > 2) parar("TCC0 waveform other than NFRQ, MFRQ and NPWM not modelled", TCC0 + r);
        tcc0_.wave = w;
        tcc0_programar();
        return;
    }
    case 0x40:
        if (t < tcc0_.ocupado_hasta) aviso_sincronizacion("TCC0.PER");
        tcc0_.per = ((tcc0_.per & ~m) | (v & m)) & 0xFFFFFF;
        reanclar(cuenta_actual);
        tcc0_programar();
        tcc0_.ocupado_hasta = t + 6;
        mundo_.tcc0_periodo(tcc0_.per);
        return;
    case 0x6C:
        tcc0_.perb = ((tcc0_.perb & ~m) | (v & m)) & 0xFFFFFF;
        tcc0_.perb_valido = true;
        if (!habilitado) { tcc0_.per = tcc0_.perb; tcc0_.perb_valido = false; mundo_.tcc0_periodo(tcc0_.per); }
        return;
    case 0x44: case 0x48: case 0x4C: case 0x50: case 0x70: case 0x74: case 0x78: case 0x7C: {
        int i = (int)(((r >= 0x70 ? r - 0x70 : r - 0x44)) / 4);
        if (r < 0x70 && t < tcc0_.ocupado_hasta) aviso_sincronizacion("TCC0.CC");
        tcc0_.cc[i] = ((tcc0_.cc[i] & ~m) | (v & m)) & 0xFFFFFF;
        if (i == 0) { reanclar(cuenta_actual); tcc0_programar(); }
        tcc0_.ocupado_hasta = t + 6;
        return;
    }
    default: break;
    }
    parar("write to an unmodelled TCC0 register", TCC0 + r);
}

// ---------------------------------------------------------------- SysTick, NVIC, SCB

uint32_t Chip::systick_leer(uint32_t r)
{
    uint64_t t = ahora();
    uint32_t rvr = systick_.rvr & 0xFFFFFF;
    switch (r) {
    case 0x10: {
        uint32_t v = systick_.csr | (systick_.countflag ? 1u << 16 : 0u);
        systick_.countflag = false;
        return v;
    }
    case 0x14: return systick_.rvr;
    case 0x18:
        if (!(systick_.csr & 1)) return systick_.cvr_parado;
        if (t < systick_.origen) return 0;
        return rvr - (uint32_t)((t - systick_.origen) % ((uint64_t)rvr + 1));
    case 0x1C: return 0x40000000u | 47999u;  // NOREF; 1 ms of the 48 MHz clock
    default: break;
    }
    parar("read of an unmodelled SysTick register", SCS + r);
}

void Chip::systick_escribir(uint32_t r, uint32_t v)
{
    uint64_t t = ahora();
    uint32_t rvr = systick_.rvr & 0xFFFFFF;
    auto programar = [&]() {
        systick_.proximo = placa::NUNCA;
        if (!(systick_.csr & 1) || rvr == 0) return;
        uint64_t base = systick_.origen + rvr;  // the count reaches 0
        if (base <= t) base += ((t - base) / ((uint64_t)rvr + 1) + 1) * ((uint64_t)rvr + 1);
        systick_.proximo = base;
    };
    switch (r) {
    case 0x10: {
        bool antes = systick_.csr & 1;
        systick_.csr = v & 7;
        if ((v & 1) && !(v & 4)) parar("SysTick on the external reference clock not modelled", SCS + r);
        if (!antes && (v & 1)) {
            uint32_t actual = systick_.cvr_parado;
            systick_.origen = actual == 0 ? t + 1 : t - std::min<uint64_t>(t, (uint64_t)(rvr - std::min(actual, rvr)));
        } else if (antes && !(v & 1)) {
            systick_.cvr_parado = systick_leer(0x18);
        }
        programar();
        return;
    }
    case 0x14:
        systick_.rvr = v & 0xFFFFFF;
        rvr = systick_.rvr;
        programar();
        return;
    case 0x18:
        systick_.countflag = false;
        systick_.cvr_parado = 0;
        if (systick_.csr & 1) systick_.origen = t + 1;
        programar();
        return;
    case 0x1C: return;
    default: break;
    }
    parar("write to an unmodelled SysTick register", SCS + r);
}

uint32_t Chip::scs_leer(uint32_t a)
{
    uint32_t r = a - SCS;
    if (r >= 0x10 && r < 0x20) return systick_leer(r);
    switch (r) {
    case 0x100: case 0x180: return nvic_iser_;
    case 0x200: case 0x280: {
        uint32_t p = nvic_ispr_;
        for (int irq = 0; irq < 32; irq++)
            if (irq_linea(irq)) p |= 1u << irq;
        return p;
    }
    case 0xD00: return 0x410CC601u;  // CPUID: Cortex-M0+ r0p1
    case 0xD04: {
        uint32_t v = (pendsv_ ? 1u << 28 : 0u) | (pendst_ ? 1u << 26 : 0u);
        if (!activas_.empty()) v |= (uint32_t)activas_.back().numero;
        int p = excepcion_pendiente(true);
        if (p > 0) v |= (uint32_t)p << 12 | 1u << 22;
        return v;
    }
    case 0xD08: return vtor_;
    case 0xD0C: return 0xFA050000u;
    case 0xD10: return scr_;
    case 0xD14: return 0x00000208u;
    case 0xD1C: return shpr2_;
    case 0xD20: return shpr3_;
    case 0xD24: return 0;
    default: break;
    }
    if (r >= 0x400 && r < 0x420) return nvic_ipr_[(r - 0x400) / 4];
    parar("read of an unmodelled system control register", a);
}

void Chip::scs_escribir(uint32_t a, uint32_t v)
{
    uint32_t r = a - SCS;
    if (r >= 0x10 && r < 0x20) return systick_escribir(r, v);
    switch (r) {
    case 0x100:
        for (int irq = 0; irq < 32; irq++)
            if (((v >> irq) & 1) && irq != IRQ_TCC0 && !(irq >= IRQ_SERCOM0 && irq < IRQ_SERCOM0 + 6))
                parar("interrupt line " + std::to_string(irq) + " enabled, but its peripheral is not modelled", a);
        nvic_iser_ |= v;
        return;
    case 0x180: nvic_iser_ &= ~v; return;
    case 0x200: nvic_ispr_ |= v; return;
    case 0x280: nvic_ispr_ &= ~v; return;
    case 0xD04:
        if (v & (1u << 31)) parar("NMI not modelled", a);
        if (v & (1u << 28)) pendsv_ = true;
        if (v & (1u << 27)) pendsv_ = false;
        if (v & (1u << 26)) pendst_ = true;
        if (v & (1u << 25)) pendst_ = false;
        return;
    case 0xD08: vtor_ = v & 0xFFFFFF80u; return;
    case 0xD0C:
        if ((v >> 16) != 0x05FA) return;  // without the key the write is ignored
        if (v & 4) {
            reinicio_pendiente_ = true;
            causa_reinicio_ = CAUSA_RESET_SISTEMA;
            rcause_pendiente_ = 0x40;
        }
        return;
    case 0xD10: scr_ = v & 0x16; return;
    case 0xD14: return;
    case 0xD1C: shpr2_ = v & 0xC0000000u; return;
    case 0xD20: shpr3_ = v & 0xC0C00000u; return;
    default: break;
    }
    if (r >= 0x400 && r < 0x420) {
        nvic_ipr_[(r - 0x400) / 4] = v & 0xC0C0C0C0u;
        return;
    }
    parar("write to an unmodelled system control register", a);
}

// ================================================================ figures

void *Chip::simbolo(const char *nombre)
{
    auto it = imagen_.simbolos.find(nombre);
    if (it == imagen_.simbolos.end()) return nullptr;
    uint32_t d = it->second;
    if (d >= RAM_BASE && d < RAM_BASE + RAM_BYTES) return ram_ + (d - RAM_BASE);
    if (d < FLASH_BYTES) return flash_.data() + d;
    return nullptr;
}

uint64_t Chip::monticulo_en_uso() const
{
    if (!dir_ruptura_ || dir_ruptura_ < RAM_BASE || dir_ruptura_ + 4 > RAM_BASE + RAM_BYTES) return 0;
    uint32_t ruptura;
    std::memcpy(&ruptura, ram_ + (dir_ruptura_ - RAM_BASE), 4);
    if (ruptura < monticulo_base_ || ruptura > RAM_BASE + RAM_BYTES) return 0;
    return ruptura - monticulo_base_;
}

uint32_t Chip::monticulo_rechazos()
{
    if (!dir_rechazos_ || dir_rechazos_ < RAM_BASE || dir_rechazos_ + 4 > RAM_BASE + RAM_BYTES) return 0;
    uint32_t v;
    std::memcpy(&v, ram_ + (dir_rechazos_ - RAM_BASE), 4);
    return v;
}

uint32_t Chip::pila_mas_baja()
{
    if (!pintada_) return sp_mas_bajo_;
    uint32_t desde = std::max<uint32_t>(monticulo_base_ + (uint32_t)monticulo_pico_, RAM_BASE);
    desde = (desde + 3) & ~3u;
    uint32_t a = desde;
    while (a + 4 <= pila_tope_) {
        uint32_t v;
        std::memcpy(&v, ram_ + (a - RAM_BASE), 4);
        if (v != PINTURA) break;
        a += 4;
    }
    return std::min(a, sp_mas_bajo_);
}

void Chip::escribir_registro_mmio(const std::string &ruta) const
{
    FILE *f = std::fopen(ruta.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + ruta);
    for (const auto &e : registro_mmio_)
        std::fprintf(f, "0x%08X %u %c %llu\n", std::get<0>(e.first), std::get<1>(e.first), std::get<2>(e.first),
                     (unsigned long long)e.second);
    std::fclose(f);
}

nlohmann::json Chip::perfil(uint64_t epocas)
{
    std::map<std::string, uint64_t> por_funcion;
    uint64_t total = 0, fuera = 0;
    for (uint32_t i = 0; i < perfil_.size(); i++) {
        uint64_t n = perfil_[i] - perfil_base_[i];
        if (!n) continue;
        total += n;
        const FuncionElf *f = imagen_.funcion_en(i * 2);
        if (f) por_funcion[f->nombre] += n;
        else fuera += n;
    }
    perfil_base_ = perfil_;
    std::vector<std::pair<uint64_t, std::string>> orden;
    for (const auto &e : por_funcion) orden.push_back({e.second, e.first});
    std::sort(orden.rbegin(), orden.rend());
    nlohmann::json j;
    double div = epocas ? (double)epocas : 1.0;
    j["epochs"] = epocas;
    j["instructions"] = total;
    j["instructions_per_epoch"] = epocas ? std::llround((double)total / div) : 0;
    nlohmann::json funciones = nlohmann::json::object();
    for (size_t i = 0; i < orden.size() && i < 40; i++) funciones[orden[i].second] = std::llround((double)orden[i].first / div);
    j["by_function"] = funciones;
    std::map<std::string, uint64_t> por_modulo;
    for (const auto &e : por_funcion) {
        auto it = modulo_de_funcion_.find(e.first);
        por_modulo[it == modulo_de_funcion_.end() ? "other" : it->second] += e.second;
    }
    if (fuera) por_modulo["other"] += fuera;
    nlohmann::json modulos = nlohmann::json::object();
    for (const auto &e : por_modulo) modulos[e.first] = std::llround((double)e.second / div);
    j["by_module"] = modulos;
    return j;
}

nlohmann::json Chip::resumen()
{
    nlohmann::json j;
    uint64_t total = mundo_.ciclo();
    uint32_t baja = pila_mas_baja();
    if (baja < sp_mas_bajo_) sp_mas_bajo_ = baja;
    j["clock"] = "virtual time is the instruction count at 48 MHz: one instruction, one cycle";
    j["instructions"] = instrucciones_;
    j["cycles"] = total;
    j["sleep_cycles"] = ciclos_dormido_;
    j["cpu_busy_fraction"] = total ? (double)(total - ciclos_dormido_) / (double)total : 0.0;
    j["exceptions_taken"] = excepciones_tomadas_;
    j["core_runs"] = tramos_;
    nlohmann::json pila;
    pila["top"] = pila_tope_;
    pila["limit"] = pila_reserva_;
    pila["reserve_bytes"] = pila_tope_ - pila_reserva_;
    pila["lowest_sp"] = sp_mas_bajo_;
    pila["deepest_bytes"] = pila_tope_ > sp_mas_bajo_ ? pila_tope_ - sp_mas_bajo_ : 0;
    pila["within_reserve"] = sp_mas_bajo_ >= pila_reserva_;
    j["stack"] = pila;
    nlohmann::json heap;
    heap["base"] = monticulo_base_;
    heap["peak_bytes"] = monticulo_pico_;
    heap["limit_bytes"] = pila_reserva_ > monticulo_base_ ? pila_reserva_ - monticulo_base_ : 0;
    heap["refused_requests"] = monticulo_rechazos();
    j["heap"] = heap;
    j["syncbusy_violations"] = violaciones_sincronizacion_;
    j["enable_protected_writes_ignored"] = escrituras_protegidas_;
    j["warnings"] = avisos_;
    nlohmann::json tx;
    for (int n = 0; n < 6; n++) tx["SERCOM" + std::to_string(n)] = sercom_[n].perdidos_tx;
    j["uart_tx_bytes_lost"] = tx;
    j["nvm"] = {{"eeprom_row_erases", nvm_.borrados_eeprom}, {"eeprom_page_writes", nvm_.paginas_escritas},
                {"user_row_writes", nvm_.escrituras_fila_usuario}};
    j["sd_commands"] = tarjeta_.comandos();
    return j;
}

}  // namespace samd21
