#include "chip.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../mundo/tarjeta.h"

namespace samd21 {

namespace {

constexpr uint32_t PORT_IOBUS = Port::BASE_IOBUS, SCS = Systick::BASE;

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

void gancho_interrupcion_cb(uc_engine *, uint32_t numero, void *d)
{
    static_cast<Chip *>(d)->interrupcion_motor(numero);
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

std::string hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

// ================================================================ construction

Chip::Chip(mundo::Mundo &mundo, const std::string &ruta_elf, const std::string &ruta_flash)
    : mundo_(mundo), imagen_(leer_elf(ruta_elf)), flash_(FLASH_BYTES, 0xFF), pm_(*this), sysctrl_(*this),
      gclk_(*this, sysctrl_), nvmctrl_(*this, flash_, ruta_flash), wdt_(*this, gclk_, nvmctrl_), port_(*this),
      tcc0_(*this, gclk_), systick_(*this)
{
    for (const SegmentoElf &s : imagen_.segmentos) {
        if (s.direccion >= RAM_BASE && s.direccion < RAM_BASE + RAM_BYTES) continue;  // .data's run address
        if ((uint64_t)s.direccion + s.datos.size() > EEPROM_BASE)
            throw std::runtime_error("the image reaches into the EEPROM rows or beyond the flash: " + hex(s.direccion));
        std::memcpy(flash_.data() + s.direccion, s.datos.data(), s.datos.size());
    }
    sercom_.reserve(Sercom::CANTIDAD);
    Entorno &entorno = *this;
    for (int n = 0; n < Sercom::CANTIDAD; n++) sercom_.emplace_back(entorno, gclk_, n);

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
    // The page is all SVC: fetching there raises the engine's interrupt, where
    // the return is done without leaving the run.
    static uint16_t svcs[BYTES_PAGINA_RETORNO / 2];
    for (uint16_t &n : svcs) n = 0xDF00;
    comprobar(uc_mem_map_ptr(uc_, PAGINA_RETORNO, BYTES_PAGINA_RETORNO, UC_PROT_READ | UC_PROT_EXEC, svcs),
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
    comprobar(uc_hook_add(uc_, &h, UC_HOOK_INTR, (void *)gancho_interrupcion_cb, this, 1, 0), "the interrupt hook");
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

void Chip::sincronizar_mundo()
{
    uint64_t t = ahora();
    if (t > mundo_.ciclo()) mundo_.avanzar_hasta(t);
}

// ================================================================ reset

void Chip::configurar_arranque(ModoBootloader modo, const ErroresOsciladores &errores)
{
    modo_bootloader_ = modo;
    errores_ = errores;
    // The core counts cycles of the DFLL48M: its error is the world's clock's.
    ErroresOsciladores e = errores;
    e.dfll48m = mundo_.hz_real() / HZ_CPU - 1.0;
    sysctrl_.configurar_errores(e);
}

void Chip::reiniciar(TipoReset tipo)
{
    if (pintada_) sp_mas_bajo_ = std::min(sp_mas_bajo_, pila_mas_baja());
    // Stack painting: the words the stack writes below its deepest point so far
    // tell how deep it went. Only at power-on: any other reset keeps the RAM
    // as it is (the bootloader's double-tap word among it), and what the
    // stack overwrote since stays overwritten.
    if (tipo == TipoReset::encendido) {
        uint32_t pintar_desde = std::max(monticulo_base_, RAM_BASE);
        if (pintar_desde < pila_tope_ && pila_tope_ <= RAM_BASE + RAM_BYTES)
            for (uint32_t a = (pintar_desde + 3) & ~3u; a + 4 <= pila_tope_; a += 4) escribir32_ram(a, PINTURA);
        pintada_ = true;
    }
    reinicios_.reset(mundo_.segundos_reales(mundo_.ciclo()), rcause_de(tipo));

    pm_.reiniciar(tipo);
    sysctrl_.reiniciar(tipo);
    gclk_.reiniciar(tipo);
    nvmctrl_.reiniciar(tipo);
    sysctrl_.cargar_bod33(nvmctrl_.fusibles_cargados());
    tcc0_.reiniciar(tipo);
    for (Sercom &s : sercom_) s.reiniciar(tipo);
    port_.reiniciar(tipo);
    cs_tarjeta_ = true;
    if (tipo == TipoReset::encendido) tarjeta_ = TarjetaSpi{};
    if (mundo::Tarjeta *t = mundo::tarjeta_actual()) t->cobrar_tiempo(false);
    systick_.reiniciar(tipo);
    reiniciar_nucleo(tipo);
    dormido_ = false;
    reinicio_pendiente_ = false;
    reset_pendiente_ = TipoReset::encendido;
    // A watchdog the fuses enable starts counting on its reset clock, and
    // runs on through the bootloader.
    wdt_.reiniciar(tipo);
    decidir_arranque(tipo);
}

void Chip::decidir_arranque(TipoReset tipo)
{
    uint32_t palabra = leer32_ram(DIRECCION_DOBLE_TOQUE), sp = 0;
    std::memcpy(&sp, flash_.data() + APLICACION, 4);
    DecisionBootloader d = decidir_bootloader(modo_bootloader_, rcause_de(tipo), sp, palabra, errores_.osc8m);
    if (modo_bootloader_ != ModoBootloader::ninguno) escribir32_ram(DIRECCION_DOBLE_TOQUE, palabra);
    en_bootloader_ = d.paso != PasoBootloader::aplicacion;
    bootloader_hasta_ = NUNCA;
    if (d.paso == PasoBootloader::aplicacion) reinicios_.aplicacion_arrancada();
    else if (d.paso == PasoBootloader::espera)
        bootloader_hasta_ = mundo_.ciclo() + (uint64_t)std::llround(d.espera_s * mundo_.hz_real());
    else reinicios_.bootloader_se_queda();
}

// The wait ran out: the bootloader clears its word and jumps to the
// application (its registers are set already, as the bootloader leaves them).
void Chip::arrancar_aplicacion()
{
    uint32_t palabra = leer32_ram(DIRECCION_DOBLE_TOQUE);
    fin_espera_bootloader(palabra);
    escribir32_ram(DIRECCION_DOBLE_TOQUE, palabra);
    en_bootloader_ = false;
    bootloader_hasta_ = NUNCA;
    reinicios_.aplicacion_arrancada();
}

bool Chip::caida_tension()
{
    if (!sysctrl_.bod33_reinicia()) {
        aviso("a supply dip at " + std::to_string(mundo_.segundos_reales(mundo_.ciclo())) +
              " s with BOD33 not set to reset (fuses): no reset");
        return false;
    }
    throw mundo::ReinicioPlaca{mundo::CAUSA_CAIDA_TENSION, mundo_.ciclo()};
}

// ================================================================ running

uint64_t Chip::proximo_evento() const
{
    uint64_t t = mundo_.proximo();
    t = std::min({t, systick_.proximo(), tcc0_.proximo_evento(), wdt_.vence()});
    for (int n = 0; n < Sercom::CANTIDAD; n++) {
        if (sercom_[n].usart_tx_en_curso()) t = std::min(t, sercom_[n].usart_fin_tx());
        int p = puerto_de(n);
        if (p >= 0) t = std::min(t, mundo_.proxima_llegada(p));
    }
    return t;
}

void Chip::atender_eventos()
{
    uint64_t ahora = mundo_.ciclo();
    if (mundo_.proximo() <= ahora) mundo_.avanzar_hasta(ahora);
    if (systick_.atender(ahora)) pendst_ = true;
    tcc0_.atender(ahora);
    if (wdt_.vence() <= ahora) {
        wdt_.vencido();
        reinicio_pendiente_ = true;
        // The chip cannot tell a missed feed from the firmware's deliberate
        // stop; the image can: the core waiting in the runtime's stop routine.
        const FuncionElf *f = imagen_.funcion_en(leer_reg(UC_ARM_REG_PC));
        bool parada = f && f->nombre == "samd21_parada_hasta_watchdog";
        causa_reinicio_ = parada ? mundo::CAUSA_PARADA_FIRMWARE : mundo::CAUSA_WATCHDOG;
        reset_pendiente_ = TipoReset::watchdog;
        return;
    }
    for (int n = 0; n < Sercom::CANTIDAD; n++) {
        if (sercom_[n].usart_tx_en_curso() && sercom_[n].usart_fin_tx() <= ahora) sercom_[n].usart_evento();
        int p = puerto_de(n);
        if (p >= 0 && mundo_.proxima_llegada(p) <= ahora) usart_llegadas(n);
    }
}

void Chip::ejecutar()
{
    for (;;) {
        atender_eventos();
        if (reinicio_pendiente_) {
            reinicio_pendiente_ = false;
            throw mundo::ReinicioPlaca{causa_reinicio_, mundo_.ciclo()};
        }
        if (en_bootloader_) {
            // The bootloader's own code is not run: its time passes, with the
            // watchdog and the world's events, until its wait ends.
            if (mundo_.ciclo() >= bootloader_hasta_) {
                arrancar_aplicacion();
                continue;
            }
            mundo_.avanzar_hasta(std::min(proximo_evento(), bootloader_hasta_));
            continue;
        }
        if (dormido_) {
            if (excepcion_pendiente(true) >= 0) {
                dormido_ = false;
            } else {
                uint64_t t = proximo_evento();
                if (t == NUNCA) parar("asleep with nothing left to wake the core", leer_reg(UC_ARM_REG_PC));
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
    excepcion_motor_ = false;
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
    if (e != UC_ERR_OK || excepcion_motor_) {
        uint32_t pc_fallo = leer_reg(UC_ARM_REG_PC);
        switch (excepcion_motor_ ? UC_ERR_EXCEPTION : e) {
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
        // An exception return: done at the SVC there (interrupcion_motor).
        retorno_excepcion_ = true;
        destino_retorno_ = direccion;
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

// The engine's own exception (SVC, UDF, BKPT): at the return page it is the
// exception return, done here; the run goes on unless an exception is to be
// taken now or the next event is due. Any other ends the run (a HardFault or
// a breakpoint, taken by ejecutar_tramo).
void Chip::interrupcion_motor(uint32_t)
{
    if (!retorno_excepcion_) {
        excepcion_motor_ = true;
        uc_emu_stop(uc_);
        return;
    }
    retorno_excepcion_ = false;
    try {
        salir_excepcion(destino_retorno_);
        // Inside a run the engine takes the Thumb state from the PC's bit 0.
        escribir_reg(UC_ARM_REG_PC, leer_reg(UC_ARM_REG_PC) | 1u);
    } catch (const ParadaEmulador &p) {
        error_ = p.what();
        parar_tramo_ = true;
        uc_emu_stop(uc_);
        return;
    }
    if (parar_tramo_ || reinicio_pendiente_ || excepcion_pendiente(true) >= 0 || tramo_n_ >= tramo_limite_) {
        parar_tramo_ = true;
        uc_emu_stop(uc_);
    }
}

void Chip::acceso_no_mapeado(uint32_t direccion, bool escritura)
{
    (void)escritura;
    error_direccion_ = direccion;
}

}  // namespace samd21
