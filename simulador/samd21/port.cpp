#include "port.h"

namespace samd21 {

void Port::reiniciar(TipoReset)
{
    g_[0] = Grupo{};
    g_[1] = Grupo{};
}

bool Port::pin_funcion(int g, int p, int funcion) const
{
    const Grupo &q = g_[g];
    if (!(q.pincfg[p] & 1)) return false;
    int f = (p & 1) ? q.pmux[p / 2] >> 4 : q.pmux[p / 2] & 0xF;
    return f == funcion;
}

int Port::nivel_pin(int g, int p) const
{
    const Grupo &q = g_[g];
    if ((q.dir >> p) & 1) return (int)((q.out >> p) & 1);
    int e = e_.nivel_externo(g, p);
    if (e >= 0) return e ? 1 : 0;
    if (q.pincfg[p] & 4) return (int)((q.out >> p) & 1);  // pull-up or pull-down by OUT
    return 0;
}

uint32_t Port::leer(int g, uint32_t r)
{
    Grupo &q = g_[g];
    if (r <= 0x0C) return q.dir;
    if (r <= 0x1C) return q.out;
    if (r == 0x20) {
        uint32_t in = 0;
        for (int p = 0; p < 32; p++)
            if ((q.pincfg[p] & 2) && nivel_pin(g, p)) in |= 1u << p;
        return in;
    }
    if (r == 0x24) return q.ctrl;
    if (r == 0x28) return 0;
    if (r >= 0x30 && r < 0x40) return q.pmux[r - 0x30];
    if (r >= 0x40 && r < 0x60) return q.pincfg[r - 0x40];
    e_.parar("read of an unmodelled PORT register", BASE + 0x80 * g + r);
}

void Port::escribir(int g, uint32_t r, uint32_t v, uint32_t m)
{
    Grupo &q = g_[g];
    v &= m;
    switch (r) {
    case 0x00: q.dir = (q.dir & ~m) | v; break;
    case 0x04: q.dir &= ~v; break;
    case 0x08: q.dir |= v; break;
    case 0x0C: q.dir ^= v; break;
    case 0x10: q.out = (q.out & ~m) | v; break;
    case 0x14: q.out &= ~v; break;
    case 0x18: q.out |= v; break;
    case 0x1C: q.out ^= v; break;
    case 0x20: return;  // IN is read-only
    case 0x24: q.ctrl = (q.ctrl & ~m) | v; return;
    case 0x28: {
        if (m != 0xFFFFFFFFu) e_.parar("PORT.WRCONFIG written by parts", BASE + 0x80 * g + r);
        int base = (v >> 31) ? 16 : 0;  // HWSEL: the upper half of the group
        for (int i = 0; i < 16; i++) {
            if (!((v >> i) & 1)) continue;
            int p = base + i;
            if (v & (1u << 30)) q.pincfg[p] = (uint8_t)(((v >> 16) & 0x07) | ((v >> 16) & 0x40));  // WRPINCFG
            if (v & (1u << 28)) {                                                                    // WRPMUX
                uint8_t f = (uint8_t)((v >> 24) & 0xF);
                q.pmux[p / 2] = (p & 1) ? (uint8_t)((q.pmux[p / 2] & 0x0F) | f << 4) : (uint8_t)((q.pmux[p / 2] & 0xF0) | f);
            }
        }
        return;
    }
    default:
        if (r >= 0x30 && r < 0x40) { q.pmux[r - 0x30] = (uint8_t)v; return; }
        if (r >= 0x40 && r < 0x60) { q.pincfg[r - 0x40] = (uint8_t)(v & 0x47); return; }
        e_.parar("write to an unmodelled PORT register", BASE + 0x80 * g + r);
    }
    e_.pines_cambiados();
}

}  // namespace samd21
