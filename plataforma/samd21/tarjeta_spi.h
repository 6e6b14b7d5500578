// An SD card in SPI mode: start-up (idle, interface condition, initialisation,
// OCR), card size from the CSD, single and multiple block reads and writes,
// erase and status, for standard capacity (byte-addressed) and high capacity
// (block-addressed) cards. Every wait is bounded, so a missing or dead card
// fails within a known time; while a wait goes on the bus hears of it at
// every poll (the board feeds its watchdog there: a card's erase may take
// longer than the watchdog's period on a fast oscillator).
//
// Portable: the bus is reached through BusSpi, so the host tests can put a
// simulated card behind it.
#ifndef PLATAFORMA_SAMD21_TARJETA_SPI_H
#define PLATAFORMA_SAMD21_TARJETA_SPI_H

#include <stddef.h>
#include <stdint.h>

namespace samd21 {

class BusSpi {
public:
    virtual uint8_t intercambiar(uint8_t salida) = 0;   // one byte out, the byte in
    virtual void seleccionar(bool activa) = 0;          // chip select low while active
    virtual void velocidad_inicio(bool lenta) = 0;      // at most 400 kHz while the card starts
    virtual uint32_t milisegundos() = 0;                // for the time-outs
    // Between two looks at a busy card (programming a block takes
    // milliseconds): the core may sleep until its next interrupt.
    virtual void pausa() {}
    virtual void esperando() {}                         // at every poll of a bounded wait

protected:
    ~BusSpi() = default;
};

class TarjetaSpi {
public:
    enum Tipo : uint8_t { NINGUNA = 0, SD1 = 1, SD2 = 2, SDHC = 3 };
    enum Error : uint8_t {
        SIN_ERROR = 0,
        ERROR_CMD0,       // no card answers
        ERROR_CMD8,       // interface condition refused
        ERROR_ACMD41,     // initialisation did not end
        ERROR_CMD58,      // OCR
        ERROR_CMD16,      // block length
        ERROR_CSD,        // size
        ERROR_LECTURA,    // CMD17 / CMD18 or their data
        ERROR_ESCRITURA,  // CMD24 / CMD25 or their data
        ERROR_OCUPADA,    // the card stayed busy
        ERROR_BORRADO,    // CMD32 / CMD33 / CMD38
        ERROR_ESTADO,     // CMD13 reported an error
        ERROR_RANGO,      // block beyond the card, or not started
    };

    // Time-outs in milliseconds.
    static constexpr uint32_t MS_INICIALIZACION = 1000;
    static constexpr uint32_t MS_LECTURA = 100;
    static constexpr uint32_t MS_ESCRITURA = 600;
    static constexpr uint32_t MS_BORRADO = 1500;
    static constexpr uint32_t MS_LIBRE = 300;

    explicit TarjetaSpi(BusSpi &bus) : bus_(bus) {}

    bool iniciar();
    bool iniciada() const { return tipo_ != NINGUNA; }
    Tipo tipo() const { return tipo_; }
    uint32_t bloques() const { return bloques_; }
    Error error() const { return error_; }
    uint8_t ultima_respuesta() const { return r1_; }

    bool leer(uint32_t bloque, uint8_t *datos);
    bool escribir(uint32_t bloque, const uint8_t *datos);
    // Several consecutive blocks in one command (CMD18, CMD25).
    bool leer_varios(uint32_t bloque, uint32_t cantidad, uint8_t *datos);
    bool escribir_inicio(uint32_t bloque, uint32_t cantidad);
    bool escribir_siguiente(const uint8_t *datos);
    bool escribir_fin();
    // Erases the blocks; they read back as the card's erase value (0x00 or 0xFF).
    bool borrar(uint32_t primero, uint32_t ultimo);
    // CMD13: the card answers and reports no error.
    bool estado();
    // Forgets the card (a card taken out, or a failed start).
    void olvidar() { tipo_ = NINGUNA; bloques_ = 0; en_escritura_ = false; }

private:
    uint8_t comando(uint8_t indice, uint32_t argumento);
    uint8_t comando_app(uint8_t indice, uint32_t argumento);
    bool esperar_libre(uint32_t ms);
    bool recibir_datos(uint8_t *datos, size_t bytes);
    bool enviar_datos(uint8_t token, const uint8_t *datos);
    void soltar();
    bool fallo(Error e);
    uint32_t direccion(uint32_t bloque) const { return tipo_ == SDHC ? bloque : bloque << 9; }
    bool en_rango(uint32_t bloque, uint32_t cantidad) const
    {
        return iniciada() && cantidad > 0 && bloque < bloques_ && cantidad <= bloques_ - bloque;
    }

    BusSpi &bus_;
    Tipo tipo_ = NINGUNA;
    uint32_t bloques_ = 0;
    Error error_ = SIN_ERROR;
    uint8_t r1_ = 0xFF;
    bool en_escritura_ = false;
    uint32_t quedan_ = 0;
};

// CRC7 of a command (the 7 bits, not yet shifted into the last byte).
uint8_t crc7_sd(const uint8_t *datos, size_t n);
// Blocks of 512 bytes from a CSD register (versions 1.0 and 2.0), 0 if unknown.
uint32_t bloques_de_csd(const uint8_t csd[16]);

}  // namespace samd21

#endif
