// The four serial ports on SERCOM USARTs: interrupt-driven receive ring
// buffers and buffered transmission.
//
// Receive buffers. The sensor port must keep every byte of a pass that is
// busy elsewhere: at 115200 baud a byte arrives every 87 us (11520 bytes/s on
// a saturated line); the sensor's three logs take about 177 bytes an epoch,
// 1.8 KB/s at 10 Hz. The buffer of Serial2 holds 2048 bytes: 1.15 s of the
// sensor's output at 10 Hz (178 ms of a line without a gap), which covers
// the longest ordinary pass, a record written to a card that keeps the line
// busy for its write time (up to 250 ms a block on a standard card, 500 ms on
// a high capacity one). Not covered: the free-space scan when a card starts
// (up to 30 s) and the formatter, which hold the loop far beyond what 32 KB of
// RAM can buffer. The GPS at 9600 baud (960 bytes/s at most, a burst of
// 300-500 bytes a second) gets 1024 bytes; the telemetry link reads command
// frames of at most 128 bytes: 256; the debug console takes no input the
// firmware reads: 32. Their sum is what the heap budget allows (make
// firmware prints it).
//
// A byte that finds its buffer full is dropped and counted in
// samd21_uart_descartados[port]; a loss in the hardware, because the
// interrupt came too late for its two-byte buffer (BUFOVF), is counted
// apart in samd21_uart_desbordes[port] (the flag stands for one byte or more).
#include "../plataforma.h"
#include "gclk.h"
#include "nvic.h"
#include "pm.h"
#include "port.h"
#include "sercom.h"
#include "systick.h"
#include "tabla_pines.h"

using namespace samd21;

extern "C" volatile uint32_t samd21_uart_descartados[4];
// Counts the firmware's ticks and the receive interrupts that brought bytes
// (on any port): what ends a serial port's wait. The tick may preempt a
// receive interrupt's increment and one count is lost, never the change.
extern "C" volatile uint32_t samd21_eventos;
extern "C" volatile uint32_t samd21_milisegundos;
extern "C" volatile uint32_t samd21_uart_desbordes[4];

namespace {

// Capacities, powers of two.
constexpr uint16_t RX_CAPACIDAD[4] = {256, 32, 2048, 1024};
constexpr uint16_t TX_CAPACIDAD[4] = {256, 512, 64, 128};
constexpr uint8_t PRIORIDAD_UART = 1;   // below the firmware's tick (0)

uint8_t rx0[RX_CAPACIDAD[0]], rx1[RX_CAPACIDAD[1]], rx2[RX_CAPACIDAD[2]], rx3[RX_CAPACIDAD[3]];
constexpr uint8_t *RX_DATOS[4] = {rx0, rx1, rx2, rx3};
uint8_t tx0[TX_CAPACIDAD[0]], tx1[TX_CAPACIDAD[1]], tx2[TX_CAPACIDAD[2]], tx3[TX_CAPACIDAD[3]];

struct Anillo {
    uint8_t *datos;
    uint16_t mascara;
    volatile uint16_t cabeza;   // next write (the producer's)
    volatile uint16_t cola;     // next read (the consumer's)
    uint16_t ocupados() const { return (uint16_t)((cabeza - cola) & mascara); }
    bool vacio() const { return cabeza == cola; }
    bool lleno() const { return (uint16_t)((cabeza + 1u) & mascara) == cola; }
};

// 32 bytes, so that a port's entry is found by a shift.
struct alignas(32) Puerto {
    Anillo rx, tx;
    bool abierto;
    bool enviado;   // a byte went to DATA since the last flush
};

Puerto g_puertos[4] = {
    {{rx0, RX_CAPACIDAD[0] - 1u, 0, 0}, {tx0, TX_CAPACIDAD[0] - 1u, 0, 0}, false, false},
    {{rx1, RX_CAPACIDAD[1] - 1u, 0, 0}, {tx1, TX_CAPACIDAD[1] - 1u, 0, 0}, false, false},
    {{rx2, RX_CAPACIDAD[2] - 1u, 0, 0}, {tx2, TX_CAPACIDAD[2] - 1u, 0, 0}, false, false},
    {{rx3, RX_CAPACIDAD[3] - 1u, 0, 0}, {tx3, TX_CAPACIDAD[3] - 1u, 0, 0}, false, false},
};

void liberar_linea(const LineaSercom &l) { port_grupo(l.grupo).PINCFG[l.bit] = PORT_PINCFG_INEN; }

void esperar_sync(Sercom &s, uint32_t bits)
{
    while (s.SYNCBUSY & bits) {}
}

// Errors and transmission, the rarer work of a port's interrupt.
template <uint8_t N>
void __attribute__((noinline)) servir_errores(Sercom &s)
{
    if (s.STATUS & SERCOM_USART_STATUS_BUFOVF) samd21_uart_desbordes[N]++;   // the hardware lost one or more
    s.STATUS = SERCOM_USART_STATUS_ERRORES;
    s.INTFLAG = SERCOM_INT_ERROR;
}

template <uint8_t N>
void __attribute__((noinline)) servir_transmision(Sercom &s)
{
    Puerto &q = g_puertos[N];
    if (q.tx.vacio()) {
        s.INTENCLR = SERCOM_INT_DRE;
    } else {
        s.DATA = q.tx.datos[q.tx.cola];
        q.tx.cola = (uint16_t)((q.tx.cola + 1u) & q.tx.mascara);
        q.enviado = true;
    }
}

// The interrupt work of port N, one copy per port so that its registers,
// ring and mask are constants: the sensor's bytes come one interrupt each.
// One received byte an entry: a second one already waiting keeps RXC set, and
// the interrupt is taken again at once. The loop that reads the ring cannot
// run while this does, so its read index is read once.
template <uint8_t N>
inline __attribute__((always_inline)) void servir()
{
    Sercom &s = sercom(PUERTOS_SERIE[N].sercom);
    uint32_t flags = s.INTFLAG;
    // Each flag tested by shifting it into the sign bit: one instruction.
    static_assert(SERCOM_INT_ERROR == 1u << 7 && SERCOM_INT_RXC == 1u << 2 && SERCOM_INT_DRE == 1u << 0,
                  "INTFLAG bits");
    if ((int32_t)(flags << 24) < 0) servir_errores<N>(s);
    if ((int32_t)(flags << 29) < 0) {
        constexpr uint32_t mascara = RX_CAPACIDAD[N] - 1u;
        Anillo &rx = g_puertos[N].rx;
        uint8_t b = (uint8_t)s.DATA;   // a byte with a framing error is kept, as the wire gave it
        uint16_t cabeza = rx.cabeza;
        uint16_t siguiente = (uint16_t)((cabeza + 1u) & mascara);
        if (siguiente != rx.cola) {
            RX_DATOS[N][cabeza] = b;
            __asm__ volatile("" ::: "memory");   // the byte before the index that hands it over
            rx.cabeza = siguiente;
        } else {
            samd21_uart_descartados[N]++;
        }
        samd21_eventos = samd21_eventos + 1u;
    }
    if ((flags & s.INTENSET) & SERCOM_INT_DRE) servir_transmision<N>(s);
}

// Moves one queued byte to the hardware by polling: for a writer that the
// transmit interrupt cannot serve (a handler of higher priority, or
// interrupts off) and finds the buffer full.
void enviar_sondeando(uint8_t n)
{
    Puerto &q = g_puertos[n];
    Sercom &s = sercom(PUERTOS_SERIE[n].sercom);
    while (!(s.INTFLAG & SERCOM_INT_DRE)) {}
    if (!q.tx.vacio()) {
        s.DATA = q.tx.datos[q.tx.cola];
        q.tx.cola = (uint16_t)((q.tx.cola + 1u) & q.tx.mascara);
        q.enviado = true;
    }
}

inline __attribute__((always_inline)) bool interrupciones_servibles()
{
    uint32_t primask;
    __asm__ volatile("mrs %0, primask" : "=r"(primask));
    return ipsr() == 0 && (primask & 1u) == 0;
}

}  // namespace

// Time allowed for emptying the transmit buffers before the stop waits for
// the watchdog: the fullest buffers take 512 bytes at 115200 baud (44 ms) and
// 256 bytes at 9600 (267 ms), sent side by side; 500 ms of the watchdog's 2 s.
constexpr uint32_t CICLOS_MS_VACIADO = 48000u;   // SysTick's period at 48 MHz
constexpr uint32_t CICLOS_LIMITE_VACIADO = 500u * CICLOS_MS_VACIADO;

extern "C" {
volatile uint32_t samd21_uart_descartados[4];
volatile uint32_t samd21_uart_desbordes[4];

// Sends what every open port still holds, by polling DRE with interrupts off
// (from the tick's handler, or after a fault, the transmit interrupt would
// never run), and waits for the last stop bits. Bounded by
// CICLOS_LIMITE_VACIADO, measured on SysTick's counter (read, not served);
// without SysTick running (clocks not set up yet) nothing is sent.
void samd21_vaciar_transmision(void)
{
    if (!(SYSTICK.CSR & SYST_CSR_ENABLE)) return;
    uint32_t primask = primask_desactivar();
    uint32_t previo = SYSTICK.CVR;
    uint32_t transcurrido = 0;
    for (;;) {
        bool pendiente = false;
        for (uint8_t n = 0; n < 4; n++) {
            Puerto &q = g_puertos[n];
            if (!q.abierto) continue;
            Sercom &s = sercom(PUERTOS_SERIE[n].sercom);
            if (!q.tx.vacio()) {
                pendiente = true;
                if (s.INTFLAG & SERCOM_INT_DRE) {
                    s.DATA = q.tx.datos[q.tx.cola];
                    q.tx.cola = (uint16_t)((q.tx.cola + 1u) & q.tx.mascara);
                    q.enviado = true;
                }
            } else if (q.enviado) {
                if (s.INTFLAG & SERCOM_INT_TXC) q.enviado = false;
                else pendiente = true;
            }
        }
        if (!pendiente) break;
        // The counter counts down from 47999 and reloads: far less than a
        // period passes between two reads.
        uint32_t ahora = SYSTICK.CVR;
        transcurrido += previo >= ahora ? previo - ahora : previo + CICLOS_MS_VACIADO - ahora;
        previo = ahora;
        if (transcurrido >= CICLOS_LIMITE_VACIADO) break;
    }
    primask_restaurar(primask);
}

void SERCOM0_Handler(void) { servir<0>(); }
void SERCOM5_Handler(void) { servir<1>(); }
void SERCOM2_Handler(void) { servir<2>(); }
void SERCOM3_Handler(void) { servir<3>(); }
}

HardwareSerial Serial(0);
HardwareSerial Serial1(1);
HardwareSerial Serial2(2);
HardwareSerial Serial3(3);

void HardwareSerial::begin(uint32_t baudios)
{
    if (numero_ > 3) return;
    if (g_puertos[numero_].abierto) end();
    if (baudios == 0) return;
    const PuertoSerie &c = PUERTOS_SERIE[numero_];
    Sercom &s = sercom(c.sercom);
    Puerto &q = g_puertos[numero_];

    PM.APBCMASK = PM.APBCMASK | (PM_APBCMASK_SERCOM0 << c.sercom);
    GCLK.CLKCTRL = (uint16_t)((GCLK_ID_SERCOM0_CORE + c.sercom) | (0u << GCLK_CLKCTRL_GEN_POS) | GCLK_CLKCTRL_CLKEN);
    while (GCLK.STATUS & GCLK_STATUS_SYNCBUSY) {}

    nvic_desactivar(c.irq);
    s.CTRLA = SERCOM_CTRLA_SWRST;
    esperar_sync(s, SERCOM_SYNCBUSY_SWRST);
    q.rx.cabeza = q.rx.cola = 0;
    q.tx.cabeza = q.tx.cola = 0;
    q.enviado = false;

    s.CTRLA = (SERCOM_MODE_USART_INTERNO << SERCOM_CTRLA_MODE_POS) | SERCOM_CTRLA_DORD |
              (0u << SERCOM_USART_CTRLA_SAMPR_POS) | ((uint32_t)c.txpo << SERCOM_USART_CTRLA_TXPO_POS) |
              ((uint32_t)c.rxpo << SERCOM_USART_CTRLA_RXPO_POS);
    s.CTRLB = SERCOM_CTRLB_TXEN | SERCOM_CTRLB_RXEN;   // 8 bits, 1 stop bit, no parity
    esperar_sync(s, SERCOM_SYNCBUSY_CTRLB);
    s.BAUD = baud_usart(baudios);
    conectar_linea_sercom(c.tx);
    conectar_linea_sercom(c.rx);
    s.INTENSET = SERCOM_INT_RXC | SERCOM_INT_ERROR;
    nvic_borrar_pendiente(c.irq);
    nvic_prioridad(c.irq, PRIORIDAD_UART);
    nvic_activar(c.irq);
    s.CTRLA = s.CTRLA | SERCOM_CTRLA_ENABLE;
    esperar_sync(s, SERCOM_SYNCBUSY_ENABLE);
    q.abierto = true;
}

void HardwareSerial::end()
{
    if (numero_ > 3 || !g_puertos[numero_].abierto) return;
    flush();
    const PuertoSerie &c = PUERTOS_SERIE[numero_];
    Sercom &s = sercom(c.sercom);
    nvic_desactivar(c.irq);
    s.CTRLA = s.CTRLA & ~SERCOM_CTRLA_ENABLE;
    esperar_sync(s, SERCOM_SYNCBUSY_ENABLE);
    nvic_borrar_pendiente(c.irq);
    liberar_linea(c.tx);
    liberar_linea(c.rx);
    Puerto &q = g_puertos[numero_];
    q.abierto = false;
    q.rx.cabeza = q.rx.cola = 0;
    q.tx.cabeza = q.tx.cola = 0;
}

// Sleeps until the firmware's tick or a byte on any port, as the simulated
// board lets time jump to its next event. Other interrupts (the millisecond,
// a byte sent) wake the core and it sleeps again; with the tick stopped, the
// wait ends after 1 to 2 ms. Only called from thread mode with interrupts on,
// so it leaves them on.
static void __attribute__((noinline)) esperar_tick_o_byte(const Anillo &rx)
{
    uint32_t eventos = samd21_eventos;
    if (!rx.vacio()) return;   // a byte came just before the count was read
    uint32_t ms = samd21_milisegundos;
    __asm__ volatile("cpsid i" ::: "memory");
    while (samd21_eventos == eventos) {
        esperar_interrupcion();   // a pending request wakes it even now
        __asm__ volatile("cpsie i\n\tcpsid i" ::: "memory");   // its handler runs here
        if (samd21_milisegundos - ms >= 2u) break;
    }
    __asm__ volatile("cpsie i" ::: "memory");
}

// Nothing waiting: the core sleeps until something may have changed, and the
// loops that poll stay the same while the board draws less.
int HardwareSerial::available()
{
    if (numero_ > 3) return 0;
    const Anillo &rx = g_puertos[numero_].rx;
    if (rx.vacio() && interrupciones_servibles()) esperar_tick_o_byte(rx);
    return rx.ocupados();
}

int HardwareSerial::read()
{
    if (numero_ > 3) return -1;
    Anillo &rx = g_puertos[numero_].rx;
    uint16_t cola = rx.cola;
    if (rx.cabeza == cola) return -1;
    uint8_t b = rx.datos[cola];
    rx.cola = (uint16_t)((cola + 1u) & rx.mascara);
    return b;
}

int HardwareSerial::peek()
{
    if (numero_ > 3) return -1;
    Anillo &rx = g_puertos[numero_].rx;
    return rx.vacio() ? -1 : rx.datos[rx.cola];
}

size_t HardwareSerial::write(uint8_t byte)
{
    if (numero_ > 3) return 0;
    Puerto &q = g_puertos[numero_];
    if (!q.abierto) return 1;   // a closed port swallows the byte, as the line would
    Sercom &s = sercom(PUERTOS_SERIE[numero_].sercom);
    // The main loop and the tick both write to the console: the test for
    // room and the insertion are one step, with interrupts off.
    for (;;) {
        uint32_t p = primask_desactivar();
        if (!q.tx.lleno()) {
            q.tx.datos[q.tx.cabeza] = byte;
            q.tx.cabeza = (uint16_t)((q.tx.cabeza + 1u) & q.tx.mascara);
            s.INTENSET = SERCOM_INT_DRE;
            primask_restaurar(p);
            return 1;
        }
        primask_restaurar(p);
        if (interrupciones_servibles()) esperar_interrupcion();   // the transmit interrupt makes room
        else enviar_sondeando(numero_);
    }
}

void HardwareSerial::flush()
{
    if (numero_ > 3) return;
    Puerto &q = g_puertos[numero_];
    if (!q.abierto) return;
    Sercom &s = sercom(PUERTOS_SERIE[numero_].sercom);
    while (!q.tx.vacio()) {
        if (interrupciones_servibles()) esperar_interrupcion();
        else enviar_sondeando(numero_);
    }
    if (q.enviado) {
        while (!(s.INTFLAG & SERCOM_INT_TXC)) {}   // the last stop bit is out
        q.enviado = false;
    }
}

void samd21::conectar_linea_sercom(const LineaSercom &l)
{
    PortGrupo &g = port_grupo(l.grupo);
    uint8_t pmux = g.PMUX[l.bit >> 1];
    if (l.bit & 1u) pmux = (uint8_t)((pmux & 0x0Fu) | (l.funcion << 4));
    else pmux = (uint8_t)((pmux & 0xF0u) | l.funcion);
    g.PMUX[l.bit >> 1] = pmux;
    g.PINCFG[l.bit] = PORT_PINCFG_PMUXEN | PORT_PINCFG_INEN;
}
