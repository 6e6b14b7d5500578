// The firmware's heap on the simulated board. The firmware library is linked
// with its malloc, calloc, realloc and free wrapped, so the board knows every
// block it holds: the blocks still held at a reset are released (the board's
// RAM is wiped), and the use can be measured across a long run.
#ifndef PLATAFORMA_HOST_MONTICULO_HOST_H
#define PLATAFORMA_HOST_MONTICULO_HOST_H

#include <cstddef>
#include <cstdint>

namespace placa {

struct EstadoMonticulo {
    uint64_t bytes_en_uso = 0;
    uint64_t bloques_en_uso = 0;
    uint64_t pico_bytes = 0;
    uint64_t reservas = 0;
    uint64_t fallos = 0;  // requests refused (beyond the target's RAM)
};

const EstadoMonticulo &monticulo();
// Releases every block the firmware still holds (at a reset, at the end).
void monticulo_liberar_todo();
// The heap the target could offer at most; a larger use is refused, as the
// target's allocator would.
constexpr uint64_t LIMITE_MONTICULO = 20 * 1024;

}  // namespace placa

#endif
