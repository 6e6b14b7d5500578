// The board services of plataforma.h on the ATSAMD21J18A: clocks, time,
// pins, the TCC0 tick's register steps, the watchdog and the NVM user row.
#include "../plataforma.h"
#include "gclk.h"
#include "nvic.h"
#include "nvmctrl.h"
#include "pm.h"
#include "port.h"
#include "scb.h"
#include "sysctrl.h"
#include "systick.h"
#include "tabla_pines.h"
#include "tcc.h"
#include "wdt.h"

using namespace samd21;

// SysTick's count of milliseconds (the serial ports' waits read it too).
extern "C" volatile uint32_t samd21_milisegundos;
volatile uint32_t samd21_milisegundos = 0;

namespace {

constexpr uint32_t HZ_CPU = 48000000u;
constexpr uint32_t CICLOS_MS = HZ_CPU / 1000u;

void esperar_gclk()
{
    while (GCLK.STATUS & GCLK_STATUS_SYNCBUSY) {}
}

void esperar_dfll()
{
    while (!(SYSCTRL.PCLKSR & SYSCTRL_PCLKSR_DFLLRDY)) {}
}

void esperar_wdt()
{
    while (WDT.STATUS & WDT_STATUS_SYNCBUSY) {}
}

// Generic clock generator 2: the 32 kHz ultra-low-power oscillator divided
// by 2^(4+1) = 32, that is 1.024 kHz, for the watchdog.
void reloj_watchdog()
{
    GCLK.GENDIV = 2u | (4u << GCLK_GENDIV_DIV_POS);
    esperar_gclk();
    GCLK.GENCTRL = 2u | (GCLK_SRC_OSCULP32K << GCLK_GENCTRL_SRC_POS) | GCLK_GENCTRL_GENEN | GCLK_GENCTRL_DIVSEL;
    esperar_gclk();
    GCLK.CLKCTRL = (uint16_t)(GCLK_ID_WDT | (2u << GCLK_CLKCTRL_GEN_POS) | GCLK_CLKCTRL_CLKEN);
    esperar_gclk();
}

void watchdog_configurar(uint8_t per)
{
    if (per > WDT_PER_MAXIMO) per = WDT_PER_MAXIMO;
    reloj_watchdog();
    if (WDT.CTRL & WDT_CTRL_ALWAYSON) return;   // locked on by the fuses: its period stays
    WDT.CTRL = 0;
    esperar_wdt();
    WDT.CONFIG = per;
    esperar_wdt();
    WDT.CTRL = WDT_CTRL_ENABLE;
    esperar_wdt();
}

}  // namespace

// ------------------------------------------------------------------ clocks

// DFLL48M in open loop at the factory calibration for 48 MHz, on generic
// clock generator 0 (CPU, buses, SERCOMs, TCC0); one flash wait state first.
extern "C" void samd21_iniciar_relojes(void)
{
    NVMCTRL.CTRLB = (1u << NVMCTRL_CTRLB_RWS_POS) | NVMCTRL_CTRLB_MANW;

    // The DFLL is enabled with ONDEMAND cleared before its value is written.
    SYSCTRL.DFLLCTRL = SYSCTRL_DFLLCTRL_ENABLE;
    esperar_dfll();
    const volatile uint32_t *cal = reinterpret_cast<const volatile uint32_t *>(NVM_CALIBRACION_SOFTWARE);
    uint32_t coarse = (cal[1] >> CAL_DFLL48M_COARSE_POS) & 0x3Fu;
    if (coarse == 0x3Fu) coarse = 0x1Fu;   // area not programmed: the middle of the range
    // The fine value is calibrated only on some die revisions: its middle.
    uint32_t fine = 0x200u;
    SYSCTRL.DFLLVAL = (coarse << SYSCTRL_DFLLVAL_COARSE_POS) | fine;
    esperar_dfll();
    SYSCTRL.DFLLCTRL = SYSCTRL_DFLLCTRL_ENABLE;
    esperar_dfll();

    GCLK.GENDIV = 0u;
    esperar_gclk();
    GCLK.GENCTRL = 0u | (GCLK_SRC_DFLL48M << GCLK_GENCTRL_SRC_POS) | GCLK_GENCTRL_GENEN | GCLK_GENCTRL_IDC;
    esperar_gclk();

    // SysTick: 1 ms at 48 MHz, for millis, micros and delay.
    SYSTICK.CSR = 0;
    SYSTICK.RVR = CICLOS_MS - 1u;
    SYSTICK.CVR = 0;
    SCB.SHPR3 = (SCB.SHPR3 & 0x3FFFFFFFu) | (1u << 30);   // priority 1, below the firmware's tick
    SYSTICK.CSR = SYST_CSR_CLKSOURCE | SYST_CSR_TICKINT | SYST_CSR_ENABLE;

    // The watchdog from here on, in its own clock: the fuses leave it off
    // (a watchdog of the fuses would reset the board inside the bootloader's
    // wait), and setup sets its period again.
    watchdog_configurar((uint8_t)WDT_PERIOD_2X);
}

extern "C" void SysTick_Handler(void) { samd21_milisegundos = samd21_milisegundos + 1u; }

// TCC0's vector: the firmware's tick, counted among the events that end a
// serial port's wait (the serial ports count their received bytes).
extern "C" {
volatile uint32_t samd21_eventos = 0;
void TCC0_Handler(void);
void samd21_tick_tcc0(void)
{
    samd21_eventos = samd21_eventos + 1u;
    TCC0_Handler();
}
}

extern "C" [[noreturn]] void samd21_ejecutar(void)
{
    setup();
    for (;;) loop();
}

// ------------------------------------------------------------------ time

uint32_t millis() { return samd21_milisegundos; }

uint32_t micros()
{
    uint32_t p = primask_desactivar();
    uint32_t ms = samd21_milisegundos;
    uint32_t cuenta = SYSTICK.CVR;
    // A wrap not served yet (interrupts are off here, or we are in a handler
    // of equal or higher priority): the counter has started its next millisecond.
    if (SCB.ICSR & SCB_ICSR_PENDSTSET) {
        cuenta = SYSTICK.CVR;
        ms++;
    }
    primask_restaurar(p);
    return ms * 1000u + (CICLOS_MS - 1u - cuenta) / (CICLOS_MS / 1000u);
}

void delay(uint32_t milisegundos)
{
    uint32_t inicio = micros();
    while (milisegundos > 0) {
        if (micros() - inicio >= 1000u) {
            milisegundos--;
            inicio += 1000u;
        } else if (ipsr() == 0) {
            esperar_interrupcion();   // the next SysTick at the latest
        }
    }
}

// ------------------------------------------------------------------ pins

// The mode each Arduino pin number's PORT line was last given, 0 for none
// yet: the firmware sets its pins' modes at every pass of the loop, and a
// mode already in place is not written again. The numbers that share a line
// (the chip select's two) are kept alike. Only pinMode and digitalWrite touch
// these lines' registers; a write to the output latch of a line with its
// pull-up on moves the pull, so the next pinMode writes everything again. A
// mode is remembered as its number plus one.
static volatile uint8_t g_modo_pin[LIMITE_PIN_ARDUINO];

static_assert(INPUT == 0 && OUTPUT == 1 && INPUT_PULLUP == 2, "the modes remembered as their number plus one");
static constexpr uint8_t MODO_ENTRADA_PULLUP = INPUT_PULLUP + 1;

// Every number on the line of entry i of the wiring table remembers marca.
static void recordar_modo(uint8_t indice, uint8_t marca)
{
    uint8_t ranura = ranura_linea(indice);
    for (uint8_t j = 0; j < NUM_PINES_PLACA; j++)
        if (ranura_linea(j) == ranura) g_modo_pin[PINES_PLACA[j].arduino] = marca;
}

// The registers of one line, with interrupts off so that a handler finds
// them and the remembered mode in agreement.
static void __attribute__((noinline)) fijar_modo(uint32_t pin, uint32_t modo)
{
    uint8_t i = indice_pin(pin);
    if (i == SIN_ENTRADA) return;
    uint8_t marca = (uint8_t)(modo <= INPUT_PULLUP ? modo + 1u : INPUT + 1u);   // an unknown mode: input
    const PinPlaca &p = PINES_PLACA[i];
    PortGrupo &g = port_grupo(p.grupo);
    uint32_t m = 1u << p.bit;
    uint32_t primask = primask_desactivar();
    if (g_modo_pin[pin] != marca) {
        if (marca == OUTPUT + 1) {
            g.PINCFG[p.bit] = PORT_PINCFG_INEN;
            g.DIRSET = m;
        } else if (marca == MODO_ENTRADA_PULLUP) {
            g.DIRCLR = m;
            g.OUTSET = m;   // pull towards high
            g.PINCFG[p.bit] = PORT_PINCFG_INEN | PORT_PINCFG_PULLEN;
        } else {
            g.DIRCLR = m;
            g.PINCFG[p.bit] = PORT_PINCFG_INEN;
        }
        recordar_modo(i, marca);
    }
    primask_restaurar(primask);
}

// The common case, a pin already in its mode, costs a compare.
void pinMode(uint32_t pin, uint32_t modo)
{
    if (pin < LIMITE_PIN_ARDUINO && modo <= INPUT_PULLUP && g_modo_pin[pin] == modo + 1u) return;
    fijar_modo(pin, modo);
}

void digitalWrite(uint32_t pin, uint32_t nivel)
{
    uint8_t i = indice_pin(pin);
    if (i == SIN_ENTRADA) return;
    const PinPlaca &p = PINES_PLACA[i];
    if (nivel) port_grupo(p.grupo).OUTSET = 1u << p.bit;
    else port_grupo(p.grupo).OUTCLR = 1u << p.bit;
    // After the latch: a pinMode from a handler in between finds the old
    // mode and leaves it, and the line is forgotten just after.
    if (g_modo_pin[pin] == MODO_ENTRADA_PULLUP) {
        uint32_t primask = primask_desactivar();
        recordar_modo(i, 0);
        primask_restaurar(primask);
    }
}

int digitalRead(uint32_t pin)
{
    uint8_t i = indice_pin(pin);
    if (i == SIN_ENTRADA) return LOW;
    const PinPlaca &p = PINES_PLACA[i];
    return (port_grupo(p.grupo).IN >> p.bit) & 1u ? HIGH : LOW;
}

// ------------------------------------------------------------------ TCC0 tick

void nvic_tcc0_desactivar()
{
    nvic_desactivar(IRQ_TCC0);
    nvic_borrar_pendiente(IRQ_TCC0);
}

void gclk_tcc0_conectar(uint16_t clkctrl)
{
    PM.APBCMASK = PM.APBCMASK | PM_APBCMASK_TCC0;
    GCLK.CLKCTRL = clkctrl;
    esperar_gclk();
}

void tcc0_desactivar()
{
    TCC0.CTRLA = TCC0.CTRLA & ~TCC_CTRLA_ENABLE;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_ENABLE) {}
}

void tcc0_reset_software()
{
    TCC0.CTRLA = TCC_CTRLA_SWRST;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_SWRST) {}
}

void tcc0_prescaler(uint8_t campo)
{
    TCC0.CTRLA = (TCC0.CTRLA & ~TCC_CTRLA_PRESCALER_MASCARA) |
                 (((uint32_t)campo << TCC_CTRLA_PRESCALER_POS) & TCC_CTRLA_PRESCALER_MASCARA);
}

void tcc0_forma_onda_normal()
{
    TCC0.WAVE = 0;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_WAVE) {}
}

void tcc0_periodo(uint32_t periodo)
{
    TCC0.PER = periodo & 0xFFFFFFu;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_PER) {}
}

void tcc0_comparacion0(uint32_t valor)
{
    TCC0.CC0 = valor & 0xFFFFFFu;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_CC0) {}
}

void tcc0_interrupcion_mc0_habilitar() { TCC0.INTENSET = TCC_INT_MC0; }

void nvic_tcc0_activar(uint8_t prioridad)
{
    nvic_prioridad(IRQ_TCC0, prioridad);
    nvic_activar(IRQ_TCC0);
}

void tcc0_habilitar()
{
    TCC0.CTRLA = TCC0.CTRLA | TCC_CTRLA_ENABLE;
    while (TCC0.SYNCBUSY & TCC_SYNCBUSY_ENABLE) {}
}

bool tcc0_flag_mc0() { return (TCC0.INTFLAG & TCC_INT_MC0) != 0; }
void tcc0_borrar_flag_mc0() { TCC0.INTFLAG = TCC_INT_MC0; }

// ------------------------------------------------------------------ watchdog

// The period code is the CONFIG.PER field at 1.024 kHz: WDT_PERIOD_2X (8) is
// 2048 cycles, 2 s.
void sodaq_wdt_enable(wdt_period periodo) { watchdog_configurar((uint8_t)periodo); }

// A feed while the previous one is still crossing into the slow clock domain
// is skipped: that clear is on its way, and waiting for it would cost
// milliseconds at every feed.
void sodaq_wdt_reset()
{
    if (WDT.STATUS & WDT_STATUS_SYNCBUSY) return;
    WDT.CLEAR = WDT_CLEAR_KEY;
}

extern "C" void samd21_vaciar_transmision(void);

// The firmware's deliberate stop (and a fault's): the text still queued for
// the serial ports goes out first, within half a second and without feeding
// the watchdog, then the core waits for the watchdog's reset.
extern "C" [[noreturn]] void samd21_parada_hasta_watchdog(void)
{
    if (!(WDT.CTRL & WDT_CTRL_ENABLE)) watchdog_configurar((uint8_t)WDT_PERIOD_2X);
    samd21_vaciar_transmision();
    for (;;) esperar_interrupcion();
}

void esperar_reset_por_watchdog() { samd21_parada_hasta_watchdog(); }

// ------------------------------------------------------------------ NVM controller

uint32_t nvm_leer_status() { return NVMCTRL.STATUS; }
void nvm_escribir_status(uint32_t valor) { NVMCTRL.STATUS = (uint16_t)valor; }
uint32_t nvm_leer_ctrlb() { return NVMCTRL.CTRLB; }
void nvm_escribir_ctrlb(uint32_t valor) { NVMCTRL.CTRLB = valor; }
void nvm_escribir_addr(uint32_t direccion_palabra) { NVMCTRL.ADDR = direccion_palabra; }
void nvm_escribir_ctrla(uint32_t comando) { NVMCTRL.CTRLA = (uint16_t)comando; }
bool nvm_intflag_ready() { return (NVMCTRL.INTFLAG & NVMCTRL_INTFLAG_READY) != 0; }

uint32_t nvm_leer_fila_usuario(uint8_t palabra)
{
    return reinterpret_cast<const volatile uint32_t *>(NVM_FILA_USUARIO)[palabra & 15u];
}

// A word written into the user row's address range goes to the page buffer.
void nvm_escribir_fila_usuario(uint8_t palabra, uint32_t valor)
{
    reinterpret_cast<volatile uint32_t *>(NVM_FILA_USUARIO)[palabra & 15u] = valor;
}
