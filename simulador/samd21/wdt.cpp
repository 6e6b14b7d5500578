#include "wdt.h"

#include <cmath>

namespace samd21 {

void Wdt::reiniciar(TipoReset)
{
    // CTRL, CONFIG and EWCTRL are loaded from the user row's fuses at every
    // reset: ENABLE (bit 25), ALWAYSON (26), PER (27..30), WINDOW (31..34),
    // EWOFFSET (35..38), WEN (39).
    Fusibles f = nvm_.fusibles_cargados();
    ctrl_ = f.wdt_ctrl();
    config_ = f.wdt_config();
    ewctrl_ = f.wdt_ewctrl();
    inten_ = 0;
    vence_ = NUNCA;
    ventana_hasta_ = ocupado_hasta_ = 0;
    ultima_limpieza_ = NUNCA;
    if (ctrl_ & 0x02) {
        programar();
        ultima_limpieza_ = e_.ahora();
    }
}

void Wdt::anotar_limpieza(uint64_t t)
{
    if (ultima_limpieza_ != NUNCA && t > ultima_limpieza_ && t - ultima_limpieza_ > hueco_mayor_)
        hueco_mayor_ = t - ultima_limpieza_;
    ultima_limpieza_ = t;
}

uint64_t Wdt::ciclos_periodo(uint32_t codigo, double hz, uint64_t sin_reloj) const
{
    return hz > 0 ? (uint64_t)std::llround((double)(8u << (codigo & 0xF)) * e_.hz_ciclos() / hz) : sin_reloj;
}

void Wdt::programar()
{
    if (!(ctrl_ & 2)) {
        vence_ = NUNCA;
        return;
    }
    if (vence_ == NUNCA) {
        double hz = gclk_.hz_periferico(Gclk::ID_WDT);
        if (hz <= 0) return;  // no clock: the counter stands
        vence_ = e_.ahora() + ciclos_periodo(config_, hz, 0);
    }
}

uint32_t Wdt::leer(uint32_t r)
{
    switch (r) {
    case 0x0: return ctrl_;
    case 0x1: return config_;
    case 0x2: return ewctrl_;
    case 0x4: case 0x5: return inten_;
    case 0x6: return 0;
    case 0x7: return e_.ahora() < ocupado_hasta_ ? 0x80u : 0u;
    case 0x8: return 0;
    default: break;
    }
    e_.parar("read of an unmodelled WDT register", BASE + r);
}

void Wdt::escribir(uint32_t r, uint32_t v, uint32_t)
{
    uint64_t t = e_.ahora();
    double hz = gclk_.hz_periferico(Gclk::ID_WDT);
    // Writes cross into the watchdog's slow clock domain: a few of its cycles.
    uint64_t sincronizacion = hz > 0 ? (uint64_t)(3.0 * e_.hz_ciclos() / hz) : NUNCA / 2;
    if (r != 0x4 && r != 0x5 && r != 0x6 && t < ocupado_hasta_) e_.aviso_sincronizacion("a WDT register");
    auto periodo = [&](uint32_t campo) { return ciclos_periodo(campo, hz, NUNCA / 4); };
    switch (r) {
    case 0x0: {
        uint8_t nuevo = (uint8_t)(v & 0x86);
        if (ctrl_ & 0x80) nuevo |= 0x82;  // always-on: stays on
        bool antes = ctrl_ & 2;
        if (antes && (ctrl_ & 0x04) != (nuevo & 0x04)) e_.escritura_protegida();
        ctrl_ = nuevo;
        ocupado_hasta_ = t + sincronizacion;
        if (!(nuevo & 2)) {
            // Stopped: the stretch it ran unfed ends here.
            if (antes) anotar_limpieza(t);
            vence_ = NUNCA;
            ultima_limpieza_ = NUNCA;
        } else if (!antes) {
            ultima_limpieza_ = t;
            vence_ = t + sincronizacion + periodo(config_);
            ventana_hasta_ = (ctrl_ & 4) ? t + periodo(config_ >> 4) : 0;
        }
        return;
    }
    case 0x1:
        if (ctrl_ & 2) { e_.escritura_protegida(); return; }  // enable-protected
        config_ = (uint8_t)v;
        ocupado_hasta_ = t + sincronizacion;
        return;
    case 0x2:
        if (ctrl_ & 2) { e_.escritura_protegida(); return; }
        ewctrl_ = (uint8_t)(v & 0xF);
        return;
    case 0x4: inten_ &= (uint8_t)~v; return;
    case 0x5:
        if (v & 1) e_.parar("WDT early-warning interrupt not modelled", BASE + r);
        return;
    case 0x6: return;
    case 0x7: return;
    case 0x8:
        if ((v & 0xFF) != 0xA5) {
            // Any other key resets the chip at once.
            e_.pedir_reinicio(CAUSA_RESET_SISTEMA, TipoReset::watchdog);
            return;
        }
        if (!(ctrl_ & 2)) return;
        if ((ctrl_ & 4) && t < ventana_hasta_) {
            // Cleared inside the closed window: a reset.
            e_.pedir_reinicio(CAUSA_WATCHDOG, TipoReset::watchdog);
            return;
        }
        anotar_limpieza(t);
        vence_ = t + sincronizacion + periodo(config_);
        ventana_hasta_ = (ctrl_ & 4) ? t + sincronizacion + periodo(config_ >> 4) : 0;
        ocupado_hasta_ = t + sincronizacion;
        return;
    default: break;
    }
    e_.parar("write to an unmodelled WDT register", BASE + r);
}

}  // namespace samd21
