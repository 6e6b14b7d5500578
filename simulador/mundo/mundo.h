// The world around a board, as every board sees it: the virtual time (cycles
// of the 48 MHz MCU clock), the reasons a board resets, the serial wires with
// their devices, the pins the world watches and drives, the tick period it
// counts and the power cut it may schedule during a flash write. The host
// board (plataforma/host) is such a world with the firmware's board calls on
// top; the emulated chip (simulador/samd21) reaches the world only through
// this interface.
#ifndef SIMULADOR_MUNDO_MUNDO_H
#define SIMULADOR_MUNDO_MUNDO_H

#include <cstdint>
#include <string>

namespace mundo {

constexpr uint64_t NUNCA = UINT64_MAX;

// Reasons of a reset, as they are reported.
constexpr const char *CAUSA_PARADA_FIRMWARE = "firmware_stop";
constexpr const char *CAUSA_WATCHDOG = "missed_feed";
constexpr const char *CAUSA_CORTE = "power_cut";
constexpr const char *CAUSA_PIN_RESET = "reset_pin";       // the emulated chip's reset button
constexpr const char *CAUSA_CAIDA_TENSION = "brown_out";   // its supply below BOD33's level

// Thrown out of a board call when the board resets; the simulator catches it,
// unloads the firmware and boots a fresh copy.
struct ReinicioPlaca {
    std::string causa;
    uint64_t ciclo;
};

// Thrown out of a board call when the simulated time is over.
struct FinSimulacion {};

// A byte transmitted by one end of a wire: its rate decides whether the other
// end, listening at its own rate, reads it correctly.
uint8_t byte_recibido(uint8_t byte, uint32_t baudios_emisor, uint32_t baudios_receptor);

struct EstadisticasPuerto {
    uint64_t bytes_recibidos = 0;
    uint64_t bytes_enviados = 0;
    uint64_t bytes_descartados = 0;     // receive buffer full
    uint64_t bytes_puerto_cerrado = 0;  // arrived while the port was closed
};

class Mundo {
public:
    virtual ~Mundo() = default;

    // ---- time
    virtual uint64_t ciclo() const = 0;
    // True time of the world for a cycle count, in seconds.
    virtual double segundos_reales(uint64_t ciclo) const = 0;
    // Cycles of the MCU clock in a true second.
    virtual double hz_real() const = 0;
    // Spends board time, running every event of the world due meanwhile.
    virtual void avanzar(uint64_t ciclos) = 0;
    virtual void avanzar_hasta(uint64_t ciclo) = 0;
    // The next cycle at which something of the world happens.
    virtual uint64_t proximo() const = 0;

    // ---- the wires (index 0 = Serial, 1 = Serial1, 2 = Serial2, 3 = Serial3)
    // Cycle the first byte on the wire towards the board arrives (NUNCA: none).
    virtual uint64_t proxima_llegada(int p) const = 0;
    // The first byte that has arrived by now, with the rate it was sent at.
    virtual bool tomar_llegada(int p, uint8_t &valor, uint32_t &baudios) = 0;
    // A byte the board's transmitter starts sending now (or when the line is
    // free) at this rate; returns the cycle its stop bit ends.
    virtual uint64_t transmitir(int p, uint8_t byte, uint32_t baudios) = 0;
    virtual EstadisticasPuerto &estadisticas_puerto(int p) = 0;

    // ---- pins (the board's numbering)
    // An output pin of the board changed; the level of an input pin the world drives (-1: none).
    virtual void notificar_pin(uint32_t pin, int nivel) = 0;
    virtual int nivel_externo(uint32_t pin) const = 0;

    // ---- the tick and the flash
    // The tick timer's period register, as the world reports it.
    virtual void tcc0_periodo(uint32_t periodo) = 0;
    // The power cut asked for during the next flash programming (bytes into
    // it), -1 when none; taking it clears it.
    virtual long long tomar_corte_en_commit() = 0;
};

}  // namespace mundo

#endif
