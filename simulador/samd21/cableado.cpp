// The board around the chip, as the models see it (Entorno): which pins go
// to the world's pin watchers and drivers, which SERCOM drives which serial
// port of the world and on which pads and pins, the card on SERCOM1's SPI
// bus with its chip select on PA13; and the chip's own services to its
// models (the time, the stops, the warnings, a reset request).
#include <unicorn/unicorn.h>

#include <cmath>

#include "chip.h"
#include "sercom_spi.h"
#include "sercom_usart.h"

namespace samd21 {

namespace {

// Which serial port of the world each SERCOM drives, and its pins: the
// board's wiring (pad numbers, pins and their multiplexer functions).
struct Cableado {
    int puerto;  // -1: none
    int txpo, rxpo;
    int grupo_tx, pin_tx, grupo_rx, pin_rx, funcion;
};
constexpr int FUNC_C = Port::FUNC_C, FUNC_D = Port::FUNC_D;
const Cableado CABLEADO[Sercom::CANTIDAD] = {
    {0, 1, 3, 0, 10, 0, 11, FUNC_C},   // SERCOM0: Serial, PA10 / PA11
    {-1, 0, 3, 0, 16, 0, 19, FUNC_C},  // SERCOM1: SPI to the card, PA16 MOSI / PA19 MISO (PA17 SCK)
    {2, 0, 1, 0, 8, 0, 9, FUNC_D},     // SERCOM2: Serial2, PA08 / PA09
    {3, 0, 1, 0, 22, 0, 23, FUNC_C},   // SERCOM3: Serial3, PA22 / PA23
    {-1, 0, 0, 0, 0, 0, 0, 0},         // SERCOM4: not wired
    {1, 1, 3, 1, 22, 1, 23, FUNC_D},   // SERCOM5: Serial1, PB22 / PB23
};
constexpr int SERCOM_TARJETA = 1;

// Board pin numbers the world knows (the firmware's numbering) of PORT pins.
struct PinPlaca { int grupo, numero; uint32_t placa; };
const PinPlaca PINES_PLACA[] = {
    {0, 2, 15}, {0, 14, 17}, {0, 13, 19}, {0, 3, 20}, {0, 4, 21}, {0, 15, 28}, {0, 20, 32},
    {0, 21, 33}, {1, 2, 35}, {1, 3, 39}, {1, 4, 40}, {1, 5, 41}, {1, 6, 42},
};
constexpr int GRUPO_CS = 0, PIN_CS = 13;

}  // namespace

// ---------------------------------------------------------------- the chip's services

uint64_t Chip::ahora() const { return en_tramo_ ? tramo_inicio_ + tramo_n_ + estancado_ : mundo_.ciclo(); }

void Chip::detener(const std::string &motivo, uint32_t direccion)
{
    uint32_t pc = leer_reg(UC_ARM_REG_PC);
    throw ParadaEmulador(motivo + " at " + hex(direccion) + " (PC " + hex(pc) + ", " +
                         std::to_string(mundo_.segundos_reales(ahora())) + " s)");
}

void Chip::aviso_sincronizacion(const char *registro)
{
    violaciones_sincronizacion_++;
    if (avisos_.size() < 20)
        avisos_.push_back(std::string("write to ") + registro + " while it was still synchronising (SYNCBUSY) at PC " +
                          hex(leer_reg(UC_ARM_REG_PC)));
}

void Chip::aviso(const std::string &texto)
{
    if (avisos_.size() < 20) avisos_.push_back(texto);
}

void Chip::pedir_reinicio(const char *causa, TipoReset tipo)
{
    reinicio_pendiente_ = true;
    causa_reinicio_ = causa;
    reset_pendiente_ = tipo;
}

void Chip::estancar(uint64_t ciclos)
{
    estancado_ += ciclos;
    parar_tramo_ = true;
}

void Chip::relojes_cambiados()
{
    tcc0_.programar();
    wdt_.programar();
}

void Chip::cortar() { throw mundo::ReinicioPlaca{mundo::CAUSA_CORTE, ahora()}; }

// ---------------------------------------------------------------- pins

int Chip::nivel_externo(int g, int p) const
{
    for (const PinPlaca &pp : PINES_PLACA)
        if (pp.grupo == g && pp.numero == p) return mundo_.nivel_externo(pp.placa);
    return -1;
}

void Chip::pines_cambiados()
{
    bool cs = !port_.es_salida(GRUPO_CS, PIN_CS) || port_.salida(GRUPO_CS, PIN_CS);
    if (cs && !cs_tarjeta_) tarjeta_.deseleccionar();
    cs_tarjeta_ = cs;
    for (const PinPlaca &pp : PINES_PLACA) {
        if (!port_.es_salida(pp.grupo, pp.numero)) continue;
        int nivel = port_.salida(pp.grupo, pp.numero);
        int &antes = salida_notificada_[pp.grupo][pp.numero];
        if (nivel != antes) {
            antes = nivel;
            sincronizar_mundo();
            mundo_.notificar_pin(pp.placa, nivel);
        }
    }
}

// ---------------------------------------------------------------- serial ports and the card's bus

int Chip::puerto_de(int n) const { return CABLEADO[n].puerto; }

bool Chip::usart_tx_conectada(int n) const
{
    const Cableado &c = CABLEADO[n];
    return c.puerto >= 0 && (int)((sercom_[n].ctrla() >> 16) & 3) == c.txpo &&
           port_.pin_funcion(c.grupo_tx, c.pin_tx, c.funcion);
}

bool Chip::usart_rx_conectada(int n) const
{
    const Cableado &c = CABLEADO[n];
    return c.puerto >= 0 && (int)((sercom_[n].ctrla() >> 20) & 3) == c.rxpo &&
           port_.pin_funcion(c.grupo_rx, c.pin_rx, c.funcion);
}

uint64_t Chip::usart_transmitir(int n, uint8_t byte, uint32_t baudios)
{
    const Sercom &s = sercom_[n];
    // A frame other than 8N1 reaches an 8N1 receiver garbled.
    if (!formato_8n1(s.ctrla(), s.ctrlb())) byte = mundo::byte_recibido(byte, baudios, baudios / 2 + 1);
    if (usart_tx_conectada(n)) {
        sincronizar_mundo();
        return mundo_.transmitir(CABLEADO[n].puerto, byte, baudios);
    }
    return ahora() + (uint64_t)std::llround(10.0 * hz_ciclos() / baudios);
}

void Chip::usart_llegadas(int n)
{
    Sercom &s = sercom_[n];
    int p = CABLEADO[n].puerto;
    uint8_t b;
    uint32_t baudios;
    while (mundo_.tomar_llegada(p, b, baudios)) {
        mundo::EstadisticasPuerto &st = mundo_.estadisticas_puerto(p);
        if (!s.usart_escucha() || !usart_rx_conectada(n)) {
            st.bytes_puerto_cerrado++;
            continue;
        }
        if (s.usart_recibir(mundo::byte_recibido(b, baudios, s.usart_baudios()))) st.bytes_recibidos++;
        else st.bytes_descartados++;
    }
}

uint8_t Chip::spi_intercambiar(int n, uint32_t ctrla, uint8_t salida)
{
    bool cableado = spi_dopo(ctrla) == 0 && spi_dipo(ctrla) == 3 && port_.pin_funcion(0, 16, FUNC_C) &&
                    port_.pin_funcion(0, 17, FUNC_C) && port_.pin_funcion(0, 19, FUNC_C);
    if (n != SERCOM_TARJETA || cs_tarjeta_ || !cableado) return 0xFF;
    // Out of mode 0 the card samples and drives on the wrong edges: garbage.
    bool modo0 = spi_modo0(ctrla);
    uint8_t entrada = tarjeta_.transferir(modo0 ? salida : (uint8_t)(salida ^ 0x5A), ahora());
    return modo0 ? entrada : (uint8_t)(entrada ^ 0x3C);
}

}  // namespace samd21
