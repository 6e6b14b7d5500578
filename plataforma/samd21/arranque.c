/* Start-up of the ATSAMD21J18A: the vector table at the start of the
 * application (0x2000, behind the bootloader), the reset handler and the
 * handlers of the faults and of the unused interrupt lines.
 *
 * Written in C so that the table is a constant the linker places in flash
 * (the first word is an address taken from the linker script). */
#include <stdint.h>

extern uint32_t __StackTop;
extern uint32_t __etext_data;   /* load address of .data in flash */
extern uint32_t __data_start__, __data_end__;
extern uint32_t __bss_start__, __bss_end__;
extern void (*__preinit_array_start[])(void);
extern void (*__preinit_array_end[])(void);
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);

void samd21_iniciar_relojes(void);
void samd21_ejecutar(void) __attribute__((noreturn));

void Reset_Handler(void) __attribute__((naked, noreturn));
static void arranque(void) __attribute__((noreturn, used));
void HardFault_Handler(void) __attribute__((noreturn));
void Dummy_Handler(void);

#define DEBIL __attribute__((weak, alias("Dummy_Handler")))
void NMI_Handler(void) DEBIL;
void SVC_Handler(void) DEBIL;
void PendSV_Handler(void) DEBIL;
void SysTick_Handler(void) DEBIL;
void PM_Handler(void) DEBIL;
void SYSCTRL_Handler(void) DEBIL;
void WDT_Handler(void) DEBIL;
void RTC_Handler(void) DEBIL;
void EIC_Handler(void) DEBIL;
void NVMCTRL_Handler(void) DEBIL;
void DMAC_Handler(void) DEBIL;
void USB_Handler(void) DEBIL;
void EVSYS_Handler(void) DEBIL;
void SERCOM0_Handler(void) DEBIL;
void SERCOM1_Handler(void) DEBIL;
void SERCOM2_Handler(void) DEBIL;
void SERCOM3_Handler(void) DEBIL;
void SERCOM4_Handler(void) DEBIL;
void SERCOM5_Handler(void) DEBIL;
void TCC0_Handler(void) DEBIL;
void samd21_tick_tcc0(void);   /* counts the tick, then TCC0_Handler */
void TCC1_Handler(void) DEBIL;
void TCC2_Handler(void) DEBIL;
void TC3_Handler(void) DEBIL;
void TC4_Handler(void) DEBIL;
void TC5_Handler(void) DEBIL;
void TC6_Handler(void) DEBIL;
void TC7_Handler(void) DEBIL;
void ADC_Handler(void) DEBIL;
void AC_Handler(void) DEBIL;
void DAC_Handler(void) DEBIL;
void PTC_Handler(void) DEBIL;
void I2S_Handler(void) DEBIL;

typedef void (*Vector)(void);

/* 16 system exceptions and the chip's 28 interrupt lines (0 PM ... 27 I2S). */
__attribute__((section(".vectores"), used)) const Vector samd21_vectores[16 + 28] = {
    (Vector)&__StackTop,
    Reset_Handler,
    NMI_Handler,
    HardFault_Handler,
    0, 0, 0, 0, 0, 0, 0,
    SVC_Handler,
    0, 0,
    PendSV_Handler,
    SysTick_Handler,
    PM_Handler,        /* 0 */
    SYSCTRL_Handler,   /* 1 */
    WDT_Handler,       /* 2 */
    RTC_Handler,       /* 3 */
    EIC_Handler,       /* 4 */
    NVMCTRL_Handler,   /* 5 */
    DMAC_Handler,      /* 6 */
    USB_Handler,       /* 7 */
    EVSYS_Handler,     /* 8 */
    SERCOM0_Handler,   /* 9 */
    SERCOM1_Handler,   /* 10 */
    SERCOM2_Handler,   /* 11 */
    SERCOM3_Handler,   /* 12 */
    SERCOM4_Handler,   /* 13 */
    SERCOM5_Handler,   /* 14 */
    samd21_tick_tcc0,  /* 15 */
    TCC1_Handler,      /* 16 */
    TCC2_Handler,      /* 17 */
    TC3_Handler,       /* 18 */
    TC4_Handler,       /* 19 */
    TC5_Handler,       /* 20 */
    TC6_Handler,       /* 21 */
    TC7_Handler,       /* 22 */
    ADC_Handler,       /* 23 */
    AC_Handler,        /* 24 */
    DAC_Handler,       /* 25 */
    PTC_Handler,       /* 26 */
    I2S_Handler,       /* 27 */
};

/* The stack pointer first, whatever the bootloader left in it. */
void Reset_Handler(void)
{
    __asm__ volatile(
        "ldr r0, =__StackTop\n\t"
        "mov sp, r0\n\t"
        "b arranque\n\t"
        ".ltorg");
}

static void arranque(void)
{
    /* The bootloader jumps here with its own vector table: take ours. */
    *(volatile uint32_t *)0xE000ED08u = (uint32_t)(uintptr_t)samd21_vectores;

    uint32_t *origen = &__etext_data;
    for (uint32_t *p = &__data_start__; p < &__data_end__;) *p++ = *origen++;
    for (uint32_t *p = &__bss_start__; p < &__bss_end__;) *p++ = 0;

    samd21_iniciar_relojes();

    for (void (**f)(void) = __preinit_array_start; f < __preinit_array_end; f++) (*f)();
    for (void (**f)(void) = __init_array_start; f < __init_array_end; f++) (*f)();

    samd21_ejecutar();
}

/* A fault or an interrupt nobody serves: stop until the watchdog resets the
 * board (it is armed here if nothing armed it yet). */
void samd21_parada_hasta_watchdog(void) __attribute__((noreturn));

void HardFault_Handler(void)
{
    samd21_parada_hasta_watchdog();
}

void Dummy_Handler(void)
{
    samd21_parada_hasta_watchdog();
}
