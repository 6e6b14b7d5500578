// WDT, the watchdog timer: normal and window mode, always-on, the clear key,
// and its reset values taken from the user row's fuses. It counts on its
// generic clock (GCLK channel WDT); its time-out is an event of the chip.
#ifndef SIMULADOR_SAMD21_WDT_H
#define SIMULADOR_SAMD21_WDT_H

#include <cstdint>

#include "entorno.h"
#include "gclk.h"
#include "nvmctrl.h"

namespace samd21 {

class Wdt {
public:
    static constexpr uint32_t BASE = 0x40001000u;

    Wdt(Entorno &e, const Gclk &gclk, const Nvmctrl &nvm) : e_(e), gclk_(gclk), nvm_(nvm) {}
    // The fuses' values; a watchdog the fuses enable starts counting.
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The clock may have changed: a running watchdog without a due time gets one.
    void programar();
    // The cycle of the time-out (NUNCA when it does not run).
    uint64_t vence() const { return vence_; }
    // The chip took the time-out.
    void vencido() { vence_ = NUNCA; }
    // The longest stretch, in cycles, that the running watchdog went unfed:
    // from its start or a clear to the next clear or its stop (not to its
    // time-out), since the chip was made.
    uint64_t hueco_mayor() const { return hueco_mayor_; }

private:
    // Cycles of a period code (PER, WINDOW: 8 << code clocks of the watchdog).
    uint64_t ciclos_periodo(uint32_t codigo, double hz, uint64_t sin_reloj) const;
    void anotar_limpieza(uint64_t t);

    Entorno &e_;
    const Gclk &gclk_;
    const Nvmctrl &nvm_;
    uint8_t ctrl_ = 0, config_ = 0xBB, ewctrl_ = 0x0B, inten_ = 0;
    uint64_t vence_ = NUNCA, ventana_hasta_ = 0, ocupado_hasta_ = 0;
    uint64_t ultima_limpieza_ = NUNCA, hueco_mayor_ = 0;
};

}  // namespace samd21

#endif
