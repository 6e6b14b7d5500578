/* Test images for the emulated Cortex-M0+ core, one per MODO:
 * 1: the tick preempts a loop at any instruction, PRIMASK holds it back;
 * 2: WFI sleeps until the tick;
 * 3: a write to a register nobody modelled;
 * 4: an undefined instruction enters the HardFault handler;
 * 5: the TCC0 tick through PM, GCLK and the NVIC, and the watchdog fed, then not;
 * 6: SERCOM0 as the telemetry USART at the right rate, at a wrong one, and
 *    with the bits in the wrong order;
 * 7: writes the user row the buoy's firmware used to write, with the
 *    watchdog on from every reset (0xDAE0C7FA), then runs its own watchdog
 *    as the firmware does, fed for a second, and stops for its reset;
 * 8: the same with the row that leaves the watchdog to the application
 *    (0xD8E0C7FA). Each boot is counted in RAM, which a reset keeps. */
#include <stdint.h>

#define REG32(a) (*(volatile uint32_t *)(a))
#define REG16(a) (*(volatile uint16_t *)(a))
#define REG8(a) (*(volatile uint8_t *)(a))

extern uint32_t __StackTop;
volatile uint32_t arranques, fila_escrita, ticks, ticks_en_seccion, fin_seccion, pasos, errores, despertares, tcc_ticks, resultado;

void SysTick_Handler(void) { ticks++; }
void TCC0_Handler(void)
{
    REG32(0x4200202C) = 1u << 16;  /* clear MC0 */
    tcc_ticks++;
}
void HardFault_Handler(void)
{
    resultado = 0xFA17;
    for (;;) __asm volatile("wfi");
}
void Reset_Handler(void);

__attribute__((section(".vectores"), used)) void (*const vectores[48])(void) = {
    (void (*)(void))&__StackTop, Reset_Handler, 0, HardFault_Handler, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    SysTick_Handler, [16 + 15] = TCC0_Handler,
};

/* Sum 1..n in registers r0-r3 and r12 with the flags live across every
 * instruction: an interrupt that did not restore them shows in the result. */
static uint32_t suma(uint32_t n)
{
    uint32_t r;
    __asm volatile(
        ".syntax unified\n"
        "movs r0, #0\n"
        "mov r1, %1\n"
        "movs r2, #1\n"
        "mov r12, r2\n"
        "1: adds r0, r0, r1\n"
        "movs r3, r1\n"
        "subs r1, r1, r2\n"
        "cmp r3, r12\n"
        "bne 1b\n"
        "mov %0, r0\n"
        : "=r"(r)
        : "r"(n)
        : "r0", "r1", "r2", "r3", "r12", "cc");
    return r;
}

static void systick(uint32_t recarga)
{
    REG32(0xE000E014) = recarga;
    REG32(0xE000E018) = 0;
    REG32(0xE000E010) = 7; /* processor clock, interrupt, enable */
}

void Reset_Handler(void)
{
#if MODO == 1
    systick(4799); /* 100 us */
    for (;;) {
        pasos++;
        if (suma(100) != 5050) errores++;
        if (pasos == 500) {
            __asm volatile("cpsid i");
            uint32_t antes = ticks;
            for (volatile int i = 0; i < 3000; i++) {
            }
            ticks_en_seccion = ticks - antes;
            __asm volatile("cpsie i");
            __asm volatile("nop");
            fin_seccion = ticks - antes;
        }
    }
#elif MODO == 2
    systick(47999); /* 1 ms */
    for (;;) {
        __asm volatile("wfi");
        despertares++;
    }
#elif MODO == 3
    REG32(0x42003000) = 1; /* TC5: not modelled */
    for (;;) {
    }
#elif MODO == 4
    __asm volatile(".short 0xde00");
    for (;;) {
    }
#elif MODO == 7 || MODO == 8
    arranques++;
#if MODO == 7
    const uint32_t fila0 = 0xDAE0C7FAu;
#else
    const uint32_t fila0 = 0xD8E0C7FAu;
#endif
    if (REG32(0x00804000) != fila0) {
        /* NVMCTRL: manual page writes, then erase the row, clear the page
           buffer, load the two words and write the page; ADDR in 16-bit words. */
        REG32(0x41004004) |= 1u << 7;
        static const uint16_t ordenes[2] = {0xA505, 0xA544};
        for (int k = 0; k < 2; k++) {
            REG16(0x41004018) = 0x1C;
            REG32(0x4100401C) = 0x00804000u / 2;
            REG16(0x41004000) = ordenes[k];
            while (!(REG8(0x41004014) & 1)) {
            }
        }
        REG32(0x00804000) = fila0;
        REG32(0x00804004) = 0xFFFFFC5Du;
        REG16(0x41004000) = 0xA506;
        while (!(REG8(0x41004014) & 1)) {
        }
        fila_escrita = REG32(0x00804000);
    }
    /* Generator 2 from OSCULP32K divided by 32 (1.024 kHz) for the watchdog, 2 s. */
    REG32(0x40000C00 + 0x8) = 2u | (4u << 8);
    while (REG8(0x40000C00 + 0x1) & 0x80) {
    }
    REG32(0x40000C00 + 0x4) = 2u | (3u << 8) | (1u << 16) | (1u << 20);
    while (REG8(0x40000C00 + 0x1) & 0x80) {
    }
    REG16(0x40000C00 + 0x2) = 0x03 | (2u << 8) | (1u << 14);
    REG8(0x40001000) = 0;
    while (REG8(0x40001000 + 0x7) & 0x80) {
    }
    REG8(0x40001000 + 0x1) = 8;
    while (REG8(0x40001000 + 0x7) & 0x80) {
    }
    REG8(0x40001000) = 2;
    systick(47999); /* 1 ms of the 48 MHz clock the emulator counts */
    uint32_t inicio = ticks;
    for (;;) {
        __asm volatile("wfi");
        if (ticks - inicio < 1000 && !(REG8(0x40001000 + 0x7) & 0x80)) REG8(0x40001000 + 0x8) = 0xA5;
    }
#elif MODO == 5 || MODO == 6
    REG32(0x40000400 + 0x20) |= (1u << 8) | (1u << 2);  /* PM.APBCMASK: TCC0, SERCOM0 */
    REG16(0x40000800 + 0x24) = 0;                        /* DFLLCTRL: ONDEMAND off first */
    while (!(REG32(0x40000800 + 0x0C) & (1u << 4))) {    /* PCLKSR.DFLLRDY */
    }
    REG16(0x40000800 + 0x24) = 2;                        /* DFLL48M on, open loop */
    while (!(REG32(0x40000800 + 0x0C) & (1u << 4))) {
    }
    REG32(0x40000C00 + 0x4) = (1u << 16) | (7u << 8) | 0; /* GENCTRL: gen 0 from DFLL48M */
    while (REG8(0x40000C00 + 0x1) & 0x80) {
    }
    REG16(0x40000C00 + 0x2) = (1u << 14) | (0u << 8) | 0x1A; /* CLKCTRL: TCC0 on gen 0 */
#if MODO == 6
    REG16(0x40000C00 + 0x2) = (1u << 14) | (0u << 8) | 0x14; /* CLKCTRL: SERCOM0 core on gen 0 */
    REG8(0x41004400 + 0x30 + 5) = 0x22;                  /* PMUX: PA10, PA11 function C */
    REG8(0x41004400 + 0x40 + 10) = 1;                    /* PINCFG: PMUXEN */
    REG8(0x41004400 + 0x40 + 11) = 1;
    static const uint16_t baud[3] = {64697, 63019, 64697}; /* 38400, 115200, 38400 */
    static const char texto[3][5] = {"OK\r\n", "XX", "OK\r\n"};
    for (int k = 0; k < 3; k++) {
        REG32(0x42000800) = (1u << 2) | (k == 2 ? 0 : 1u << 30) | (1u << 16) | (3u << 20); /* USART, DORD, pads */
        REG32(0x42000804) = (1u << 16) | (1u << 17);     /* TXEN, RXEN */
        REG16(0x4200080C) = baud[k];
        REG32(0x42000800) |= 2;                          /* ENABLE */
        while (REG32(0x4200081C)) {
        }
        for (const char *c = texto[k]; *c; c++) {
            while (!(REG8(0x42000818) & 1)) {            /* DRE */
            }
            REG16(0x42000828) = (uint8_t)*c;
        }
        while (!(REG8(0x42000818) & 2)) {                /* TXC */
        }
        REG32(0x42000800) &= ~2u;
        while (REG32(0x4200081C)) {
        }
    }
    resultado = 1;
    for (;;) __asm volatile("wfi");
#endif
    REG32(0x42002000 + 0x40) = 47999;                   /* PER: 1 ms */
    REG32(0x42002000 + 0x44) = 1000;                    /* CC0 */
    while (REG32(0x42002000 + 0x08)) {
    }
    REG32(0x42002000 + 0x28) = 1u << 16;                /* INTENSET.MC0 */
    REG32(0xE000E100) = 1u << 15;                        /* NVIC: TCC0 */
    REG32(0x42002000) = 2;                              /* enable */
    /* The watchdog: on gen 2, OSCULP32K divided by 32 (1.024 kHz), 2 s, fed
       for 1 s, then left alone. */
    REG32(0x40000C00 + 0x8) = 2u | (4u << 8);
    while (REG8(0x40000C00 + 0x1) & 0x80) {
    }
    REG32(0x40000C00 + 0x4) = 2u | (3u << 8) | (1u << 16) | (1u << 20);
    while (REG8(0x40000C00 + 0x1) & 0x80) {
    }
    REG8(0x40001000 + 0x1) = 8;
    REG8(0x40001000) = 2;
    for (;;) {
        __asm volatile("wfi");
        if (tcc_ticks < 1000 && !(REG8(0x40001000 + 0x7) & 0x80)) REG8(0x40001000 + 0x8) = 0xA5;
    }
#endif
}
