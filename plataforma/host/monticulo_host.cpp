#include "monticulo_host.h"

#include <cstdlib>
#include <unordered_map>

namespace placa {

namespace {
EstadoMonticulo g_estado;

std::unordered_map<void *, size_t> &bloques()
{
    static std::unordered_map<void *, size_t> *b = new std::unordered_map<void *, size_t>();
    return *b;
}

bool cabe(uint64_t mas) { return g_estado.bytes_en_uso + mas <= LIMITE_MONTICULO; }

void anotar(void *p, size_t n)
{
    bloques()[p] = n;
    g_estado.bytes_en_uso += n;
    g_estado.bloques_en_uso++;
    g_estado.reservas++;
    if (g_estado.bytes_en_uso > g_estado.pico_bytes) g_estado.pico_bytes = g_estado.bytes_en_uso;
}

size_t quitar(void *p)
{
    auto it = bloques().find(p);
    if (it == bloques().end()) return 0;
    size_t n = it->second;
    bloques().erase(it);
    g_estado.bytes_en_uso -= n;
    g_estado.bloques_en_uso--;
    return n;
}
}  // namespace

const EstadoMonticulo &monticulo() { return g_estado; }

void monticulo_liberar_todo()
{
    for (auto &b : bloques()) std::free(b.first);
    bloques().clear();
    g_estado.bytes_en_uso = 0;
    g_estado.bloques_en_uso = 0;
}

}  // namespace placa

// What the firmware library calls instead of malloc and friends.
extern "C" {
void *__wrap_malloc(size_t n)
{
    if (!placa::cabe(n)) {
        placa::g_estado.fallos++;
        return nullptr;
    }
    void *p = std::malloc(n ? n : 1);
    if (p) placa::anotar(p, n);
    return p;
}

void *__wrap_calloc(size_t cuantos, size_t tamano)
{
    if (tamano && cuantos > SIZE_MAX / tamano) return nullptr;
    size_t n = cuantos * tamano;
    if (!placa::cabe(n)) {
        placa::g_estado.fallos++;
        return nullptr;
    }
    void *p = std::calloc(n ? n : 1, 1);
    if (p) placa::anotar(p, n);
    return p;
}

void *__wrap_realloc(void *p, size_t n)
{
    if (!p) return __wrap_malloc(n);
    auto it = placa::bloques().find(p);
    size_t antes = it == placa::bloques().end() ? 0 : it->second;
    if (n > antes && !placa::cabe(n - antes)) {
        placa::g_estado.fallos++;
        return nullptr;  // the old block stays as it was
    }
    placa::quitar(p);
    void *q = std::realloc(p, n ? n : 1);
    if (!q) {
        placa::anotar(p, antes);  // still the old block
        return nullptr;
    }
    placa::anotar(q, n);
    placa::g_estado.reservas--;
    return q;
}

void __wrap_free(void *p)
{
    if (!p) return;
    placa::quitar(p);
    std::free(p);
}
}
