// What a peripheral model of the emulated chip sees of the chip around it:
// the cycle being executed, the way to stop the run on a use the model does
// not take, the chip's warnings and counters, and the board's wiring (the
// pins, the serial ports, the card's bus) that lies beyond the peripheral's
// own registers. The chip implements it; a model's test can implement it
// with a fake.
#ifndef SIMULADOR_SAMD21_ENTORNO_H
#define SIMULADOR_SAMD21_ENTORNO_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "../mundo/mundo.h"
#include "tipo_reset.h"

namespace samd21 {

constexpr double HZ_CPU = 48e6;                  // one instruction, one cycle of the 48 MHz clock
constexpr uint64_t NUNCA = mundo::NUNCA;         // an event that never comes

// The run cannot go on: an access to something not modelled, a fault the
// emulator does not take, a register used against the datasheet's rules.
struct ParadaEmulador : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reasons of a chip reset, as summary.json reports them (the host board's too).
constexpr const char *CAUSA_RESET_SISTEMA = "firmware_stop";  // SYSRESETREQ or a wrong watchdog clear key
constexpr const char *CAUSA_LOCKUP = "lockup";                // a fault inside the fault handler
constexpr const char *CAUSA_WATCHDOG = mundo::CAUSA_WATCHDOG;  // the watchdog's time-out, or a clear in its window

std::string hex(uint32_t v);

class Entorno {
public:
    virtual ~Entorno() = default;

    // ---- the chip
    // The cycle of the instruction being executed.
    virtual uint64_t ahora() const = 0;
    // Cycles of the core's clock in a true second: the models' clocks in
    // true hertz become cycles through it (48 MHz when the DFLL48M is exact).
    virtual double hz_ciclos() const { return HZ_CPU; }
    // Stops the run: the model was used in a way it does not take (throws
    // ParadaEmulador with the place and time, from `detener`).
    [[noreturn]] void parar(const std::string &motivo, uint32_t direccion)
    {
        detener(motivo, direccion);
        throw ParadaEmulador(motivo);
    }
    // A register written while it was still synchronising (SYNCBUSY).
    virtual void aviso_sincronizacion(const char *registro) = 0;
    // A write to an enable-protected register while enabled, ignored.
    virtual void escritura_protegida() = 0;
    virtual void aviso(const std::string &texto) = 0;
    // The chip resets after the current instruction.
    virtual void pedir_reinicio(const char *causa, TipoReset tipo) = 0;
    // The core stalls this many cycles (the flash busy programming), and the
    // current run ends after this instruction.
    virtual void estancar(uint64_t ciclos) = 0;
    // A generic clock changed: the timers' next events move.
    virtual void relojes_cambiados() = 0;

    // ---- the board around the chip
    // The level an outside driver puts on a PORT pin: -1 none, 0 or 1.
    virtual int nivel_externo(int grupo, int pin) const = 0;
    // A PORT output, direction or multiplexer changed.
    virtual void pines_cambiados() = 0;
    // A USART's shift register starts a byte at `baudios`: the cycle its stop
    // bit ends.
    virtual uint64_t usart_transmitir(int sercom, uint8_t byte, uint32_t baudios) = 0;
    // An SPI master shifts `salida` out (line order) with CTRLA as it stands:
    // the byte on MISO (0xFF with nothing driving it).
    virtual uint8_t spi_intercambiar(int sercom, uint32_t ctrla, uint8_t salida) = 0;
    // TCC0's period register changed (the world counts the tick period).
    virtual void tcc0_periodo(uint32_t per) = 0;
    // A flash page write under way: >= 0 when the power goes during it (the
    // number of the page's bytes that reach the flash, modulo 65).
    virtual long long corte_en_escritura() = 0;
    // The power goes now (throws, from `cortar`).
    [[noreturn]] void cortar_alimentacion()
    {
        cortar();
        throw ParadaEmulador("the power went and the chip went on");
    }

protected:
    virtual void detener(const std::string &motivo, uint32_t direccion) = 0;
    virtual void cortar() = 0;
};

}  // namespace samd21

#endif
