// The chip's resets as the world sees them: each with its time, its cause as
// RCAUSE names it and whether the application started after it (the
// bootloader may keep the board, or a reset may cut its wait), for
// summary.json.
#ifndef SIMULADOR_SAMD21_REINICIOS_H
#define SIMULADOR_SAMD21_REINICIOS_H

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace samd21 {

// The RCAUSE bit's name: POR, BOD12, BOD33, EXT, WDT, SYST ("?" for none).
const char *nombre_rcause(uint8_t rcause);

class RegistroReinicios {
public:
    void reset(double segundos, uint8_t rcause) { lista_.push_back({segundos, rcause, false}); }
    void aplicacion_arrancada()
    {
        if (!lista_.empty()) lista_.back().arrancada = true;
    }
    void bootloader_se_queda() { quedadas_++; }
    int quedadas() const { return quedadas_; }
    size_t cuantos() const { return lista_.size(); }
    // [{"time_s", "cause", "application_started"}, ...]
    nlohmann::json resumen() const;

private:
    struct Reset {
        double segundos;
        uint8_t rcause;
        bool arrancada;
    };
    std::vector<Reset> lista_;
    int quedadas_ = 0;
};

// "0xD8E0C7FA": a word as summary.json writes the user row's.
std::string palabra_hex(uint32_t v);

}  // namespace samd21

#endif
