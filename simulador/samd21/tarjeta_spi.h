// The SD card as it answers on an SPI bus: the SD protocol's SPI mode
// (commands of six bytes, R1/R3/R7 responses, data tokens, the busy signal
// after a write) over the same card image and faults the host board uses
// (mundo::Tarjeta: pulled out, worn blocks, a power cut mid-write).
#ifndef SIMULADOR_SAMD21_TARJETA_SPI_H
#define SIMULADOR_SAMD21_TARJETA_SPI_H

#include <cstdint>
#include <cstddef>
#include <deque>
#include <vector>

namespace samd21 {

class TarjetaSpi {
public:
    // One byte exchanged with the card while it is selected (chip select low)
    // at cycle `ciclo`; returns the byte the card drives on MISO.
    uint8_t transferir(uint8_t mosi, uint64_t ciclo);
    // Chip select went high: a command being received is dropped.
    void deseleccionar();
    uint64_t comandos() const { return comandos_; }

    // Cycles a block write keeps the card busy, and a read waits for its token.
    static constexpr uint64_t CICLOS_ESCRITURA = 24000;  // 0.5 ms
    static constexpr uint64_t CICLOS_LECTURA = 4800;     // 0.1 ms
    static constexpr uint64_t CICLOS_BORRADO = 48000;    // 1 ms

private:
    enum class Estado { Comando, DatosEscritura, EscrituraMultiple };
    void comando(uint64_t ciclo);
    // A byte the card drives on MISO, not before that cycle.
    void poner(uint8_t byte, uint64_t no_antes = 0);
    void bloque_de_datos(const uint8_t *datos, size_t n, uint64_t no_antes);
    bool leer_bloque(uint32_t bloque, uint64_t ciclo);
    uint32_t bloque_de(uint32_t argumento) const;
    void reiniciar_estado();

    Estado estado_ = Estado::Comando;
    uint8_t cmd_[6] = {};
    int cmd_n_ = 0;
    std::deque<uint8_t> salida_;
    std::deque<uint64_t> retener_;
    uint64_t listo_en_ = 0;   // busy (MISO low) until this cycle
    bool inactiva_ = true;    // idle state until ACMD41 completes
    bool en_spi_ = false;     // CMD0 seen with chip select low
    bool app_cmd_ = false;
    int acmd41_intentos_ = 0;
    uint32_t insercion_ = 0;
    bool lectura_multiple_ = false;
    uint32_t siguiente_bloque_ = 0;
    uint32_t bloque_escritura_ = 0;
    std::vector<uint8_t> dato_;
    size_t dato_esperado_ = 0;
    bool dato_iniciado_ = false;
    uint32_t borrar_desde_ = 0, borrar_hasta_ = 0;
    uint64_t comandos_ = 0;
};

}  // namespace samd21

#endif
