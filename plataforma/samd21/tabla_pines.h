// The board's wiring: the Arduino pin numbers the firmware uses, the four
// serial ports and the SD card, as PORT pins, pads and SERCOMs of the
// ATSAMD21J18A. This is the one place to change when the board changes.
// Portable (no register access), so the host tests can check it.
#ifndef PLATAFORMA_SAMD21_TABLA_PINES_H
#define PLATAFORMA_SAMD21_TABLA_PINES_H

#include <stddef.h>
#include <stdint.h>

namespace samd21 {

constexpr uint8_t GRUPO_PA = 0;
constexpr uint8_t GRUPO_PB = 1;

// Peripheral functions of the PORT multiplexer.
constexpr uint8_t FUNCION_C = 2;
constexpr uint8_t FUNCION_D = 3;

struct PinPlaca {
    uint8_t arduino;   // the number the firmware passes to pinMode/digitalWrite/digitalRead
    uint8_t grupo;     // GRUPO_PA or GRUPO_PB
    uint8_t bit;       // line within the group
};

// | pin | line | use |
// | 15 | PA02 | input |                       | 17 | PA14 | output: GPS state |
// | 19, 59 | PA13 | output: SD chip select | | 20 | PA03 | input |
// | 21 | PA04 | input |                       | 28 | PA15 | input, pull-up: debug jumper |
// | 32 | PA20 | output: heartbeat |           | 33 | PA21 | output |
// | 35 | PB02 | output |                      | 39..42 | PB03..PB06 | inputs with pull-up |
constexpr PinPlaca PINES_PLACA[] = {
    {15, GRUPO_PA, 2},  {17, GRUPO_PA, 14}, {19, GRUPO_PA, 13}, {20, GRUPO_PA, 3},
    {21, GRUPO_PA, 4},  {28, GRUPO_PA, 15}, {32, GRUPO_PA, 20}, {33, GRUPO_PA, 21},
    {35, GRUPO_PB, 2},  {39, GRUPO_PB, 3},  {40, GRUPO_PB, 4},  {41, GRUPO_PB, 5},
    {42, GRUPO_PB, 6},  {59, GRUPO_PA, 13},
};
constexpr size_t NUM_PINES_PLACA = sizeof PINES_PLACA / sizeof PINES_PLACA[0];

// Arduino pin numbers run from 0 to LIMITE_PIN_ARDUINO - 1.
constexpr uint8_t LIMITE_PIN_ARDUINO = 64;
constexpr uint8_t SIN_ENTRADA = 0xFF;

// Built from PINES_PLACA when the image is compiled: for every Arduino pin
// number, its entry's index in PINES_PLACA (SIN_ENTRADA for a pin the board
// lacks); for every entry, the slot of its PORT line (the index of the first
// entry on the same line: the chip select's two numbers share one).
struct IndicePines {
    uint8_t entrada[LIMITE_PIN_ARDUINO];
    uint8_t ranura[NUM_PINES_PLACA];
    bool valido;   // every number below the limit, none twice, lines within their group
};

constexpr IndicePines indexar_pines()
{
    IndicePines x{};
    x.valido = NUM_PINES_PLACA < SIN_ENTRADA;
    for (size_t n = 0; n < LIMITE_PIN_ARDUINO; n++) x.entrada[n] = SIN_ENTRADA;
    for (size_t i = 0; i < NUM_PINES_PLACA; i++) {
        const PinPlaca &p = PINES_PLACA[i];
        if (p.arduino >= LIMITE_PIN_ARDUINO || x.entrada[p.arduino] != SIN_ENTRADA || p.grupo > GRUPO_PB ||
            p.bit >= 32) {
            x.valido = false;
            continue;
        }
        x.entrada[p.arduino] = (uint8_t)i;
        x.ranura[i] = (uint8_t)i;
        for (size_t j = 0; j < i; j++)
            if (PINES_PLACA[j].grupo == p.grupo && PINES_PLACA[j].bit == p.bit) {
                x.ranura[i] = x.ranura[j];
                break;
            }
    }
    return x;
}

constexpr IndicePines INDICE_PINES = indexar_pines();
static_assert(INDICE_PINES.valido, "the wiring table: a pin number out of range or twice, or a line out of its group");

// The index in PINES_PLACA of an Arduino pin number, SIN_ENTRADA for a pin
// the board lacks.
constexpr uint8_t indice_pin(uint32_t arduino)
{
    return arduino < LIMITE_PIN_ARDUINO ? INDICE_PINES.entrada[arduino] : SIN_ENTRADA;
}

// The entry of an Arduino pin number, nullptr for a pin the board lacks.
constexpr const PinPlaca *buscar_pin(uint32_t arduino)
{
    uint8_t i = indice_pin(arduino);
    return i == SIN_ENTRADA ? nullptr : &PINES_PLACA[i];
}

// The slot of an entry's PORT line (by its index), 0 .. NUM_PINES_PLACA - 1.
constexpr uint8_t ranura_linea(uint8_t indice) { return INDICE_PINES.ranura[indice]; }

struct LineaSercom {
    uint8_t grupo, bit, funcion, pad;
};

// Hands a line to its SERCOM through the PORT multiplexer (defined with the
// serial ports; the card's SPI bus uses it too).
void conectar_linea_sercom(const LineaSercom &l);

// A serial port: 8N1, 16x oversampling, internal clock from GCLK0 (48 MHz).
struct PuertoSerie {
    uint8_t sercom;
    LineaSercom tx, rx;
    uint8_t txpo, rxpo;   // CTRLA.TXPO (0: TxD on PAD0, 1: TxD on PAD2) and CTRLA.RXPO (the pad)
    uint8_t irq;
};

// Index 0 Serial (telemetry), 1 Serial1 (debug console), 2 Serial2 (motion
// sensor), 3 Serial3 (GPS receiver).
constexpr PuertoSerie PUERTOS_SERIE[4] = {
    {0, {GRUPO_PA, 10, FUNCION_C, 2}, {GRUPO_PA, 11, FUNCION_C, 3}, 1, 3, 9},
    {5, {GRUPO_PB, 22, FUNCION_D, 2}, {GRUPO_PB, 23, FUNCION_D, 3}, 1, 3, 14},
    {2, {GRUPO_PA, 8, FUNCION_D, 0}, {GRUPO_PA, 9, FUNCION_D, 1}, 0, 1, 11},
    {3, {GRUPO_PA, 22, FUNCION_C, 0}, {GRUPO_PA, 23, FUNCION_C, 1}, 0, 1, 12},
};

// The SD card: SERCOM1 as SPI master, data out on PAD0 and clock on PAD1
// (DOPO 0), data in on PAD3 (DIPO 3); chip select is a plain PORT output.
struct BusTarjeta {
    uint8_t sercom;
    LineaSercom mosi, sck, miso;
    uint8_t dopo, dipo;
    uint8_t cs_arduino;
};
constexpr BusTarjeta BUS_TARJETA = {
    1, {GRUPO_PA, 16, FUNCION_C, 0}, {GRUPO_PA, 17, FUNCION_C, 1}, {GRUPO_PA, 19, FUNCION_C, 3}, 0, 3, 19,
};

// USART arithmetic baud value for 16x oversampling: 65536 * (1 - 16 f / 48 MHz),
// rounded; 0 (the fastest rate, 3 Mbit/s) for a rate the divider cannot reach.
constexpr uint16_t baud_usart(uint32_t baudios, uint32_t hz_referencia = 48000000u)
{
    uint64_t parte = ((uint64_t)65536u * 16u * baudios + hz_referencia / 2) / hz_referencia;
    return parte >= 65536u ? 0 : (uint16_t)(65536u - parte);
}

// SPI baud value: f = 48 MHz / (2 (BAUD + 1)); the highest rate not above the asked one.
constexpr uint8_t baud_spi(uint32_t hz, uint32_t hz_referencia = 48000000u)
{
    if (hz == 0) return 255;
    uint32_t d = (hz_referencia + 2 * hz - 1) / (2 * hz);   // ceil(fref / 2f)
    if (d < 1) d = 1;
    if (d > 256) d = 256;
    return (uint8_t)(d - 1);
}

}  // namespace samd21

#endif
