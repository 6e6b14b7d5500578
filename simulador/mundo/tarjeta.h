// The SD card in the board's slot, as the world holds it for either board: a sparse image file of 512-byte
// blocks, and the faults of the world (card pulled out, worn blocks that no
// longer take writes, power lost in the middle of a block write).
//
// The card keeps no state of the firmware: the library's caches and open files
// live in the firmware's own objects, so a reset loses what they had not
// written yet, as on a real card.
#ifndef SIMULADOR_MUNDO_TARJETA_H
#define SIMULADOR_MUNDO_TARJETA_H

#include <cstdint>
#include <string>

namespace mundo {

class Mundo;

struct EstadisticasTarjeta {
    uint64_t bloques_leidos = 0;
    uint64_t bloques_escritos = 0;
    uint64_t bloques_borrados = 0;
    uint64_t escrituras_fallidas = 0;
    uint64_t lecturas_fallidas = 0;
};

class Tarjeta {
public:
    // mundo (may be null): the world whose virtual time each card access costs.
    explicit Tarjeta(Mundo *mundo = nullptr) : mundo_(mundo) {}
    ~Tarjeta();
    Tarjeta(const Tarjeta &) = delete;
    Tarjeta &operator=(const Tarjeta &) = delete;

    // Opens an existing image (its size must be a whole number of blocks).
    bool abrir(const std::string &ruta);
    // Makes a new blank, unformatted (all zero) sparse image and opens it.
    bool crear(const std::string &ruta, uint64_t bytes);
    // Makes a new image formatted as a card comes new: FAT32 above 2 GB, FAT16 below.
    bool crear_formateada(const std::string &ruta, uint32_t megabytes);
    void cerrar();
    bool abierta() const { return fd_ >= 0; }
    const std::string &ruta() const { return ruta_; }
    uint32_t bloques() const { return bloques_; }

    // ---- the slot
    void retirar() { presente_ = false; }
    void insertar() { presente_ = true; insercion_++; }
    bool presente() const { return presente_ && fd_ >= 0; }
    uint32_t insercion() const { return insercion_; }

    // ---- faults
    // Every write to a block at or above this one fails (UINT32_MAX: none).
    void error_escritura_desde(uint32_t bloque) { error_desde_ = bloque; }
    // Every read of a block from primero to ultimo fails (a damaged area).
    void error_lectura_entre(uint32_t primero, uint32_t ultimo)
    {
        error_lectura_desde_ = primero;
        error_lectura_hasta_ = ultimo;
    }
    // The power goes during the n-th block write from now on (1 = the next):
    // only the first bytes_escritos bytes of that block reach the card, then
    // the board resets (mundo::ReinicioPlaca, cause power_cut).
    void corte_en_escritura(uint64_t n, uint32_t bytes_escritos);
    void sin_corte() { corte_en_ = 0; }

    // ---- block access (what the library's block device calls)
    bool leer(uint32_t bloque, uint8_t *datos);
    bool escribir(uint32_t bloque, const uint8_t *datos);
    bool borrar(uint32_t primero, uint32_t ultimo);

    const EstadisticasTarjeta &estadisticas() const { return estadisticas_; }
    // A board that times the card's bus itself (the emulated chip's SPI)
    // turns off the fixed cost of each access.
    void cobrar_tiempo(bool si) { cobrar_tiempo_ = si; }

    // Virtual time of one block transfer on the 12 MHz bus and of an erase command.
    static constexpr uint64_t CICLOS_BLOQUE = 2400 + 512 * 8 * 4;
    static constexpr uint64_t CICLOS_BORRADO = 48000;

private:
    void gastar(uint64_t ciclos);

    Mundo *mundo_;
    bool cobrar_tiempo_ = true;
    int fd_ = -1;
    std::string ruta_;
    uint32_t bloques_ = 0;
    bool presente_ = true;
    uint32_t insercion_ = 1;
    uint32_t error_desde_ = UINT32_MAX;
    uint32_t error_lectura_desde_ = UINT32_MAX;
    uint32_t error_lectura_hasta_ = 0;
    uint64_t corte_en_ = 0;
    uint32_t corte_bytes_ = 0;
    EstadisticasTarjeta estadisticas_;
};

// The card of the board the firmware runs on (null: empty slot).
void instalar_tarjeta(Tarjeta *tarjeta);
Tarjeta *tarjeta_actual();

}  // namespace mundo

#endif
