// The core's exceptions as the ARMv6-M architecture takes them (priorities,
// the stacked frame, EXC_RETURN), the NVIC and the system control block.
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>

#include "chip.h"

namespace samd21 {

namespace {
constexpr uint32_t SCS = Systick::BASE;
}

void Chip::reiniciar_nucleo(TipoReset)
{
    nvic_iser_ = nvic_ispr_ = 0;
    std::memset(nvic_ipr_, 0, sizeof nvic_ipr_);
    vtor_ = APLICACION;
    shpr2_ = shpr3_ = scr_ = 0;
    pendsv_ = pendst_ = false;
    activas_.clear();

    // The core as the bootloader leaves it: the application's table in use.
    uint32_t msp, pc;
    std::memcpy(&msp, flash_.data() + APLICACION, 4);
    std::memcpy(&pc, flash_.data() + APLICACION + 4, 4);
    for (int r = UC_ARM_REG_R0; r <= UC_ARM_REG_R12; r++) escribir_reg(r, 0);
    escribir_reg(UC_ARM_REG_CONTROL, 0);
    escribir_reg(UC_ARM_REG_PRIMASK, 0);
    escribir_reg(UC_ARM_REG_XPSR, 0x01000000u);
    escribir_reg(UC_ARM_REG_IPSR, 0);
    escribir_reg(UC_ARM_REG_MSP, msp);
    escribir_reg(UC_ARM_REG_SP, msp);
    escribir_reg(UC_ARM_REG_LR, 0xFFFFFFFFu);
    escribir_reg(UC_ARM_REG_PC, pc & ~1u);
}

int Chip::prioridad_excepcion(int n) const
{
    if (n == 2) return -2;
    if (n == 3) return -1;
    if (n == 11) return (int)((shpr2_ >> 30) & 3);
    if (n == 14) return (int)((shpr3_ >> 22) & 3);
    if (n == 15) return (int)((shpr3_ >> 30) & 3);
    int irq = n - 16;
    return (int)((nvic_ipr_[irq / 4] >> (8 * (irq % 4) + 6)) & 3);
}

int Chip::prioridad_actual() const
{
    int p = 4;  // thread mode
    for (const Activa &a : activas_) p = std::min(p, prioridad_excepcion(a.numero));
    return p;
}

bool Chip::irq_linea(int irq) const
{
    if (irq >= IRQ_SERCOM0 && irq < IRQ_SERCOM0 + Sercom::CANTIDAD) return sercom_[irq - IRQ_SERCOM0].irq();
    if (irq == IRQ_TCC0) return tcc0_.irq();
    return false;
}

int Chip::excepcion_pendiente(bool ignorar_primask) const
{
    int mejor = -1, mejor_prio = 99;
    auto considerar = [&](int n) {
        for (const Activa &a : activas_)
            if (a.numero == n) return;
        int p = prioridad_excepcion(n);
        if (p < mejor_prio) { mejor = n; mejor_prio = p; }
    };
    if (pendst_) considerar(15);
    if (pendsv_) considerar(14);
    uint32_t pendientes = nvic_ispr_ & nvic_iser_;
    for (uint32_t b = nvic_iser_ & ~pendientes; b; b &= b - 1) {
        int irq = __builtin_ctz(b);
        if (irq_linea(irq)) pendientes |= 1u << irq;
    }
    for (uint32_t b = pendientes; b; b &= b - 1) considerar(16 + __builtin_ctz(b));
    if (mejor < 0) return -1;
    int actual = prioridad_actual();
    if (!ignorar_primask && (leer_reg(UC_ARM_REG_PRIMASK) & 1)) actual = std::min(actual, 0);
    return mejor_prio < actual ? mejor : -1;
}

bool Chip::tomar_excepcion()
{
    int n = excepcion_pendiente(false);
    if (n < 0) return false;
    entrar_excepcion(n);
    return true;
}

void Chip::entrar_excepcion(int n)
{
    if (n == 15) pendst_ = false;
    if (n == 14) pendsv_ = false;
    if (n >= 16) nvic_ispr_ &= ~(1u << (n - 16));
    if (activas_.empty() && (leer_reg(UC_ARM_REG_CONTROL) & 2))
        parar("the process stack (CONTROL.SPSEL) is not modelled", leer_reg(UC_ARM_REG_PC));
    uint32_t sp = leer_reg(UC_ARM_REG_SP);
    uint32_t xpsr = leer_reg(UC_ARM_REG_XPSR) | (1u << 24);
    uint32_t marco = sp - 32;
    if (marco & 4) {
        marco -= 4;
        xpsr |= 1u << 9;
    }
    const int regs[7] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                         UC_ARM_REG_R12, UC_ARM_REG_LR, UC_ARM_REG_PC};
    for (int i = 0; i < 7; i++) escribir32_ram(marco + 4 * i, leer_reg(regs[i]));
    escribir32_ram(marco + 28, xpsr);
    if (marco < sp_mas_bajo_) sp_mas_bajo_ = marco;
    uint32_t exc_return = activas_.empty() ? 0xF9u : 0xF1u;
    uint32_t vector;
    uint32_t dir_vector = vtor_ + 4u * (uint32_t)n;
    if (dir_vector + 4 > EEPROM_BASE) parar("vector table outside the flash", dir_vector);
    std::memcpy(&vector, flash_.data() + dir_vector, 4);
    if (!(vector & 1u)) parar("exception vector without the Thumb bit (a HardFault on the chip)", dir_vector);
    escribir_reg(UC_ARM_REG_SP, marco);
    escribir_reg(UC_ARM_REG_LR, (PAGINA_RETORNO + BYTES_PAGINA_RETORNO - 0x100) | exc_return);
    escribir_reg(UC_ARM_REG_IPSR, (uint32_t)n);
    escribir_reg(UC_ARM_REG_PC, vector & ~1u);
    activas_.push_back({n});
    excepciones_tomadas_++;
}

void Chip::salir_excepcion(uint32_t destino)
{
    uint32_t exc_return = (destino & 0xFF) | 1u;
    if (activas_.empty()) parar("exception return in thread mode", destino);
    if ((exc_return == 0xF9u) != (activas_.size() == 1) || (exc_return != 0xF9u && exc_return != 0xF1u))
        parar("exception return with an EXC_RETURN value that does not match the active exceptions", exc_return);
    activas_.pop_back();
    uint32_t sp = leer_reg(UC_ARM_REG_SP);
    const int regs[7] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                         UC_ARM_REG_R12, UC_ARM_REG_LR, UC_ARM_REG_PC};
    uint32_t v[8];
    for (int i = 0; i < 8; i++) v[i] = leer32_ram(sp + 4 * i);
    for (int i = 0; i < 6; i++) escribir_reg(regs[i], v[i]);
    uint32_t xpsr = v[7];
    sp += 32 + ((xpsr >> 9) & 1u) * 4;
    escribir_reg(UC_ARM_REG_SP, sp);
    escribir_reg(UC_ARM_REG_XPSR, (xpsr & 0xF0000000u) | 0x01000000u | (xpsr & 0x3F));
    escribir_reg(UC_ARM_REG_IPSR, xpsr & 0x3F);
    escribir_reg(UC_ARM_REG_PC, v[6] & ~1u);
}

// ---------------------------------------------------------------- NVIC and SCB

uint32_t Chip::scs_leer(uint32_t a)
{
    uint32_t r = a - SCS;
    if (r >= 0x10 && r < 0x20) return systick_.leer(r);
    switch (r) {
    case 0x100: case 0x180: return nvic_iser_;
    case 0x200: case 0x280: {
        uint32_t p = nvic_ispr_;
        for (int irq = 0; irq < 32; irq++)
            if (irq_linea(irq)) p |= 1u << irq;
        return p;
    }
    case 0xD00: return 0x410CC601u;  // CPUID: Cortex-M0+ r0p1
    case 0xD04: {
        uint32_t v = (pendsv_ ? 1u << 28 : 0u) | (pendst_ ? 1u << 26 : 0u);
        if (!activas_.empty()) v |= (uint32_t)activas_.back().numero;
        int p = excepcion_pendiente(true);
        if (p > 0) v |= (uint32_t)p << 12 | 1u << 22;
        return v;
    }
    case 0xD08: return vtor_;
    case 0xD0C: return 0xFA050000u;
    case 0xD10: return scr_;
    case 0xD14: return 0x00000208u;
    case 0xD1C: return shpr2_;
    case 0xD20: return shpr3_;
    case 0xD24: return 0;
    default: break;
    }
    if (r >= 0x400 && r < 0x420) return nvic_ipr_[(r - 0x400) / 4];
    parar("read of an unmodelled system control register", a);
}

void Chip::scs_escribir(uint32_t a, uint32_t v)
{
    uint32_t r = a - SCS;
    if (r >= 0x10 && r < 0x20) return systick_.escribir(r, v);
    switch (r) {
    case 0x100:
        for (int irq = 0; irq < 32; irq++)
            if (((v >> irq) & 1) && irq != IRQ_TCC0 && !(irq >= IRQ_SERCOM0 && irq < IRQ_SERCOM0 + Sercom::CANTIDAD))
                parar("interrupt line " + std::to_string(irq) + " enabled, but its peripheral is not modelled", a);
        nvic_iser_ |= v;
        return;
    case 0x180: nvic_iser_ &= ~v; return;
    case 0x200: nvic_ispr_ |= v; return;
    case 0x280: nvic_ispr_ &= ~v; return;
    case 0xD04:
        if (v & (1u << 31)) parar("NMI not modelled", a);
        if (v & (1u << 28)) pendsv_ = true;
        if (v & (1u << 27)) pendsv_ = false;
        if (v & (1u << 26)) pendst_ = true;
        if (v & (1u << 25)) pendst_ = false;
        return;
    case 0xD08: vtor_ = v & 0xFFFFFF80u; return;
    case 0xD0C:
        if ((v >> 16) != 0x05FA) return;  // without the key the write is ignored
        if (v & 4) pedir_reinicio(CAUSA_RESET_SISTEMA, TipoReset::sistema);  // SYSRESETREQ
        return;
    case 0xD10: scr_ = v & 0x16; return;
    case 0xD14: return;
    case 0xD1C: shpr2_ = v & 0xC0000000u; return;
    case 0xD20: shpr3_ = v & 0xC0C00000u; return;
    default: break;
    }
    if (r >= 0x400 && r < 0x420) {
        nvic_ipr_[(r - 0x400) / 4] = v & 0xC0C0C0C0u;
        return;
    }
    parar("write to an unmodelled system control register", a);
}

}  // namespace samd21
