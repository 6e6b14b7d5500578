// The simulated board: virtual time in cycles of the 48 MHz MCU clock, four
// UARTs with wires to the devices at their far ends, pins, the TCC0 tick,
// the watchdog, the NVM user row and the flash page of the emulated EEPROM.
//
// The firmware only sees plataforma.h; this interface is for the simulator
// and the tests, which own the world around the board.
#ifndef PLATAFORMA_HOST_PLACA_HOST_H
#define PLATAFORMA_HOST_PLACA_HOST_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../../simulador/mundo/mundo.h"

namespace placa {

// The world's time, reset reasons and wires, which both boards share.
using mundo::byte_recibido;
using mundo::CAUSA_CAIDA_TENSION;
using mundo::CAUSA_CORTE;
using mundo::CAUSA_PARADA_FIRMWARE;
using mundo::CAUSA_PIN_RESET;
using mundo::CAUSA_WATCHDOG;
using mundo::EstadisticasPuerto;
using mundo::FinSimulacion;
using mundo::NUNCA;
using mundo::ReinicioPlaca;

constexpr uint64_t HZ_NOMINAL = 48000000ULL;
constexpr int NUM_PUERTOS = 4;
constexpr int NUM_PINES = 64;

// The device at the far end of a serial port.
class DispositivoSerie {
public:
    virtual ~DispositivoSerie() = default;
    // A byte sent by the board has fully arrived (ciclo: end of its stop bit).
    virtual void recibir(uint8_t byte, uint32_t baudios_placa, uint64_t ciclo) = 0;
    // Cycle at which the device next wants to act, NUNCA if it waits for bytes only.
    virtual uint64_t proximo_evento() const { return NUNCA; }
    virtual void actuar(uint64_t ciclo) { (void)ciclo; }
};

struct Reinicio {
    uint64_t ciclo;
    std::string causa;
};

class Placa;
Placa &actual();

class Placa final : public mundo::Mundo {
public:
    Placa();

    // ---- world settings
    void configurar_xtal_ppm(double ppm);
    double xtal_ppm() const { return ppm_; }
    double hz_real() const override { return hz_real_; }
    void configurar_buffer_rx(size_t bytes) { capacidad_rx_ = bytes; }
    void configurar_fin(uint64_t ciclo) { ciclo_fin_ = ciclo; }
    void configurar_eeprom(const std::string &ruta) { ruta_eeprom_ = ruta; }
    void programar_corte(uint64_t ciclo);  // power cut at that cycle
    // An action of the world at a given cycle (a fault, a test's probe).
    void programar(uint64_t ciclo, std::function<void()> accion);
    // Runs on until every byte queued for sending has reached its device.
    void vaciar_salidas();
    void conectar(int puerto, DispositivoSerie *dispositivo) { puertos_[puerto].dispositivo = dispositivo; }
    void registrar_isr(void (*isr)()) { isr_ = isr; }
    // External level seen on an input pin (nullptr: only the pull-up decides).
    void configurar_nivel_externo(std::function<int(uint32_t pin, uint64_t ciclo)> f) { nivel_externo_ = std::move(f); }
    void observar_pines(std::function<void(uint32_t pin, int nivel, uint64_t ciclo)> f) { observador_pines_ = std::move(f); }
    // Every byte the firmware writes to a port, at the moment it writes it.
    void observar_escrituras(std::function<void(int puerto, uint8_t byte)> f) { observador_escrituras_ = std::move(f); }

    // ---- time
    uint64_t ciclo() const override { return ciclo_; }
    // True time of the world for a cycle count, in seconds, and back.
    double segundos_reales(uint64_t ciclo) const override;
    uint64_t ciclo_de_segundos_reales(double segundos) const;
    uint64_t ciclos_por_byte(uint32_t baudios) const;
    // Spends board time, running every event (tick, bytes, watchdog) due meanwhile.
    void avanzar(uint64_t ciclos) override
    {
        uint64_t destino = ciclo_ + ciclos;
        if (proximo_ <= destino) avanzar_hasta(destino);
        else ciclo_ = destino;
    }
    void avanzar_hasta(uint64_t ciclo) override;
    // Nothing to do: time runs on to the next event, or to the limit if sooner.
    void esperar_evento(uint64_t limite = NUNCA);

    // ---- power cycle
    // The hardware side of a reset: peripherals back to their reset state;
    // the flash (EEPROM page, user row) and the wires keep their contents.
    void reinicio_hardware();
    const std::vector<Reinicio> &reinicios() const { return reinicios_; }
    void anotar_reinicio(const ReinicioPlaca &r) { reinicios_.push_back({r.ciclo, r.causa}); }
    [[noreturn]] void parada_hasta_watchdog();
    // The stack depth the firmware reaches below this frame is measured at
    // every event (host frames: an upper bound of the target's).
    void base_pila(const void *marco) { base_pila_ = reinterpret_cast<uintptr_t>(marco); }
    uint64_t pila_maxima() const { return pila_maxima_; }

    // ---- serial ports (index 0 = Serial, 1 = Serial1, 2 = Serial2, 3 = Serial3)
    void uart_begin(int p, uint32_t baudios);
    void uart_end(int p);
    int uart_available(int p);
    int uart_read(int p);
    int uart_peek(int p);
    void uart_write(int p, uint8_t byte);
    void uart_flush(int p);
    uint32_t uart_baudios(int p) const { return puertos_[p].baudios; }
    const EstadisticasPuerto &estadisticas(int p) const { return puertos_[p].estadisticas; }
    // A device sends bytes to the board at its own rate; they go out one after
    // another on the wire from ciclo_inicio on (or when the wire is free).
    void enviar_a_placa(int p, const uint8_t *datos, size_t cantidad, uint32_t baudios, uint64_t ciclo_inicio);
    // Cycle at which the wire towards the board will be free again.
    uint64_t linea_libre(int p) const { return puertos_[p].fin_linea_entrada; }

    // ---- the wires, for a board that models its own UARTs (the emulated chip)
    // Arrivals stay on the wire until that board takes them, one by one.
    void llegadas_externas(bool si) { llegadas_externas_ = si; }
    uint64_t proxima_llegada(int p) const override { return puertos_[p].entrada.empty() ? NUNCA : puertos_[p].entrada.front().llegada; }
    // The first byte that has arrived by now, with the rate it was sent at.
    bool tomar_llegada(int p, uint8_t &valor, uint32_t &baudios) override;
    // A byte the board's transmitter starts sending now (or when the line is
    // free) at this rate; returns the cycle its stop bit ends.
    uint64_t transmitir(int p, uint8_t byte, uint32_t baudios) override;
    EstadisticasPuerto &estadisticas_puerto(int p) override { return puertos_[p].estadisticas; }
    // The next cycle at which something of the world happens.
    uint64_t proximo() const override { return proximo_; }
    // An output pin of the board changed; the level of an input pin the world drives (-1: none).
    void notificar_pin(uint32_t pin, int nivel) override { if (observador_pines_) observador_pines_(pin, nivel, ciclo_); }
    int nivel_externo(uint32_t pin) const override { return nivel_externo_ ? nivel_externo_(pin, ciclo_) : -1; }

    // ---- pins
    void pin_modo(uint32_t pin, uint32_t modo);
    void pin_escribir(uint32_t pin, uint32_t nivel);
    int pin_leer(uint32_t pin);
    int pin_salida(uint32_t pin) const { return pin < NUM_PINES ? pines_[pin].salida : 0; }
    uint32_t pin_modo_actual(uint32_t pin) const { return pin < NUM_PINES ? pines_[pin].modo : 0; }

    // ---- TCC0 tick
    void tcc0_nvic(bool activa) { tcc0_.irq_nvic = activa; if (!activa) tcc0_.pendiente = false; recalcular(); }
    void tcc0_gclk(uint16_t clkctrl) { tcc0_.gclk = clkctrl; }
    void tcc0_activar(bool activo);
    void tcc0_reset();
    void tcc0_prescaler(uint8_t campo) { tcc0_.prescaler = campo; }
    void tcc0_periodo(uint32_t periodo) override { tcc0_.periodo = periodo & 0xFFFFFF; }
    void tcc0_cc0(uint32_t valor) { tcc0_.cc0 = valor & 0xFFFFFF; }
    void tcc0_intenset_mc0() { tcc0_.int_mc0 = true; recalcular(); }
    bool tcc0_flag() const { return tcc0_.flag_mc0; }
    void tcc0_borrar_flag() { tcc0_.flag_mc0 = false; }
    uint64_t ticks() const { return tcc0_.ticks; }
    uint64_t ticks_perdidos() const { return tcc0_.perdidos; }
    uint64_t periodo_tick_ciclos() const;
    uint32_t tcc0_periodo_actual() const { return tcc0_.periodo; }

    // ---- watchdog
    void wdt_enable(int codigo);
    void wdt_reset();
    bool wdt_activo() const { return wdt_.activo; }

    // ---- NVM user row
    uint32_t nvm_status() const { return nvm_.status; }
    void nvm_set_status(uint32_t v) { nvm_.status &= ~(v & 0x1F); }
    uint32_t nvm_ctrlb() const { return nvm_.ctrlb; }
    void nvm_set_ctrlb(uint32_t v) { nvm_.ctrlb = v; }
    void nvm_set_addr(uint32_t v) { nvm_.addr = v; }
    void nvm_comando(uint32_t ctrla);
    uint32_t nvm_fila(uint8_t palabra) const { return nvm_.fila[palabra & 15]; }
    void nvm_escribir_fila(uint8_t palabra, uint32_t valor) { nvm_.buffer_pagina[palabra & 15] &= valor; }
    uint64_t nvm_escrituras_fila() const { return nvm_.escrituras; }
    uint64_t nvm_borrados_fila() const { return nvm_.borrados; }
    // For the tests: the row as it stands in flash, and a controller that
    // refuses the next commands with these STATUS error bits (PROGE 0x04,
    // LOCKE 0x08) and changes nothing.
    void nvm_poner_fila(uint8_t palabra, uint32_t valor) { nvm_.fila[palabra & 15] = valor; }
    void nvm_rechazar_ordenes(uint32_t bits_status) { nvm_.rechazo = bits_status & 0x1C; }

    // ---- flash page of the emulated EEPROM
    static constexpr int EEPROM_BYTES = 256;
    uint8_t eeprom_read(int direccion);
    void eeprom_write(int direccion, uint8_t valor);
    void eeprom_commit();
    bool eeprom_is_valid();
    uint64_t eeprom_commits() const { return eeprom_.commits; }
    // Power cut in the middle of the next commit, after that many bytes of the page.
    void eeprom_cortar_en_commit(size_t bytes) { eeprom_.corte_en_commit = (long long)bytes; }
    // For a board with its own flash: the cut asked for (bytes into the next
    // programming), -1 when none; taking it clears it.
    long long tomar_corte_en_commit() override { long long c = eeprom_.corte_en_commit; eeprom_.corte_en_commit = -1; return c; }

    // Costs of board operations in MCU cycles.
    static constexpr uint64_t COSTE_LLAMADA = 48;

private:
    struct Byte { uint64_t llegada; uint8_t valor; uint32_t baudios; };
    struct Puerto {
        uint32_t baudios = 0;  // 0: closed
        std::deque<uint8_t> rx;
        std::deque<Byte> entrada;   // on the wire towards the board
        uint64_t fin_linea_entrada = 0;
        std::deque<Byte> salida;    // queued or on the wire towards the device
        uint64_t fin_linea_salida = 0;
        DispositivoSerie *dispositivo = nullptr;
        EstadisticasPuerto estadisticas;
    };
    struct Pin { uint32_t modo = INPUT_MODO; int salida = 0; };
    static constexpr uint32_t INPUT_MODO = 0;
    struct Tcc0 {
        bool irq_nvic = false, activo = false, int_mc0 = false, flag_mc0 = false, pendiente = false;
        uint16_t gclk = 0;
        uint8_t prescaler = 0;
        uint32_t periodo = 0xFFFFFF, cc0 = 0;
        uint64_t proximo = NUNCA;
        uint64_t ticks = 0, perdidos = 0;
    };
    struct Wdt { bool activo = false; uint64_t periodo = 0; uint64_t vence = NUNCA; };
    struct Nvm {
        uint32_t status = 0, ctrlb = 0, addr = 0;
        // As a board leaves the factory with its bootloader: an 8 kB boot
        // section, no EEPROM section, brown-out reset, the watchdog off.
        uint32_t fila[16] = {0xD8E0C7FAu, 0xFFFFFC5Du, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                             0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                             0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
        uint32_t buffer_pagina[16] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                      0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                      0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
        uint32_t rechazo = 0;
        uint64_t escrituras = 0, borrados = 0;
    };
    struct Eeprom {
        bool cargada = false, valida = false, cambiada = false;
        uint8_t ram[EEPROM_BYTES] = {};
        uint64_t commits = 0;
        long long corte_en_commit = -1;
    };

    void recalcular();
    void procesar();
    void procesar_puertos();
    void entregar_llegadas(int p);
    void disparar_tick();
    void eeprom_cargar();

    uint64_t ciclo_ = 0;
    uint64_t proximo_ = 0;
    double ppm_ = 0.0;
    double hz_real_ = (double)HZ_NOMINAL;
    size_t capacidad_rx_ = 4096;
    static constexpr size_t CAPACIDAD_TX = 256;
    uint64_t ciclo_fin_ = NUNCA;
    std::vector<uint64_t> cortes_;
    std::multimap<uint64_t, std::function<void()>> acciones_;
    bool en_isr_ = false;
    bool llegadas_externas_ = false;
    uintptr_t base_pila_ = 0;
    uint64_t pila_maxima_ = 0;
    void (*isr_)() = nullptr;
    Puerto puertos_[NUM_PUERTOS];
    Pin pines_[NUM_PINES];
    Tcc0 tcc0_;
    Wdt wdt_;
    Nvm nvm_;
    Eeprom eeprom_;
    std::string ruta_eeprom_;
    std::vector<Reinicio> reinicios_;
    std::function<int(uint32_t, uint64_t)> nivel_externo_;
    std::function<void(uint32_t, int, uint64_t)> observador_pines_;
    std::function<void(int, uint8_t)> observador_escrituras_;
};

// The board the firmware's board calls act on (one per process).
void instalar(Placa *placa);

}  // namespace placa

#endif
