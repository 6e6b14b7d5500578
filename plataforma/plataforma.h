// Board services used by the firmware: serial ports, pins, the TCC0 tick timer,
// the watchdog, the NVM user row, the flash-emulated EEPROM and time.
//
// This header is the only door from the firmware to the board. It is portable:
// the same declarations compile for the ATSAMD21 and for the host, where the
// board is simulated (plataforma/host).
#ifndef PLATAFORMA_PLATAFORMA_H
#define PLATAFORMA_PLATAFORMA_H

#include <stddef.h>
#include <stdint.h>

#include "wstring.h"

// ---------------------------------------------------------------- pins
#define LOW 0
#define HIGH 1
#define INPUT 0
#define OUTPUT 1
#define INPUT_PULLUP 2

void pinMode(uint32_t pin, uint32_t modo);
void digitalWrite(uint32_t pin, uint32_t nivel);
int digitalRead(uint32_t pin);

// ---------------------------------------------------------------- time
uint32_t millis();
uint32_t micros();
void delay(uint32_t milisegundos);

// ---------------------------------------------------------------- text output
#define DEC 10
#define HEX 16

// Formatted text on a byte sink, as the board runtime's Print class does it.
class Print {
public:
    virtual ~Print() {}
    virtual size_t write(uint8_t byte) = 0;
    size_t write(const uint8_t *datos, size_t cantidad);
    size_t write(const char *texto);

    size_t print(const char *texto);
    size_t print(const String &texto);
    size_t print(char caracter);
    size_t print(signed char valor, int base = DEC);
    size_t print(unsigned char valor, int base = DEC);
    size_t print(short valor, int base = DEC);
    size_t print(unsigned short valor, int base = DEC);
    size_t print(int valor, int base = DEC);
    size_t print(unsigned int valor, int base = DEC);
    size_t print(long valor, int base = DEC);
    size_t print(unsigned long valor, int base = DEC);
    size_t print(long long valor, int base = DEC);
    size_t print(unsigned long long valor, int base = DEC);
    size_t print(double valor, int decimales = 2);

    size_t println();
    size_t println(const char *texto);
    size_t println(const String &texto);
    size_t println(char caracter);
    size_t println(signed char valor, int base = DEC);
    size_t println(unsigned char valor, int base = DEC);
    size_t println(short valor, int base = DEC);
    size_t println(unsigned short valor, int base = DEC);
    size_t println(int valor, int base = DEC);
    size_t println(unsigned int valor, int base = DEC);
    size_t println(long valor, int base = DEC);
    size_t println(unsigned long valor, int base = DEC);
    size_t println(long long valor, int base = DEC);
    size_t println(unsigned long long valor, int base = DEC);
    size_t println(double valor, int decimales = 2);

private:
    size_t imprimir_sin_signo(unsigned long long valor, int base);
    size_t imprimir_con_signo(long long valor, int base);
};

// ---------------------------------------------------------------- serial ports
// 8 data bits, no parity, 1 stop bit. Reception and transmission are buffered
// by the board, so bytes that arrive while the main loop is busy are kept.
class HardwareSerial : public Print {
public:
    explicit HardwareSerial(uint8_t numero) : numero_(numero) {}
    void begin(uint32_t baudios);
    void end();
    int available();
    int read();
    int peek();
    void flush();
    size_t write(uint8_t byte) override;
    using Print::write;
    uint8_t numero() const { return numero_; }

private:
    uint8_t numero_;
};

extern HardwareSerial Serial;   // telemetry link
extern HardwareSerial Serial1;  // debug console
extern HardwareSerial Serial2;  // motion sensor
extern HardwareSerial Serial3;  // GPS receiver

// ---------------------------------------------------------------- TCC0 tick timer
// Register-level steps of programming the timer; the firmware's configureTCC0
// calls them in its own order. The tick fires every (period + 1) counts of the
// 48 MHz main clock divided by the prescaler.
void nvic_tcc0_desactivar();                 // disable the IRQ line, clear any pending request
void gclk_tcc0_conectar(uint16_t clkctrl);   // route a generic clock to TCC0/TCC1, wait sync
void tcc0_desactivar();                      // CTRLA.ENABLE = 0, wait sync
void tcc0_reset_software();                  // CTRLA.SWRST = 1, wait sync
void tcc0_prescaler(uint8_t campo);          // CTRLA.PRESCALER field (0 = divide by 1)
void tcc0_forma_onda_normal();               // WAVE register at its reset value, wait sync
void tcc0_periodo(uint32_t periodo);         // PER register, wait sync
void tcc0_comparacion0(uint32_t valor);      // CC[0] register, wait sync
void tcc0_interrupcion_mc0_habilitar();      // INTENSET.MC0
void nvic_tcc0_activar(uint8_t prioridad);   // set priority, enable the IRQ line
void tcc0_habilitar();                       // CTRLA.ENABLE = 1, wait sync
bool tcc0_flag_mc0();                        // INTFLAG.MC0
void tcc0_borrar_flag_mc0();                 // write 1 to INTFLAG.MC0

// Entry points that the firmware defines: the runtime calls setup once after
// reset and loop for ever, and TCC0_Handler is the timer's interrupt vector.
extern "C" {
void setup(void);
void loop(void);
void TCC0_Handler(void);
}

// ---------------------------------------------------------------- watchdog
enum wdt_period {
    WDT_PERIOD_1DIV64 = 1,
    WDT_PERIOD_1DIV32 = 2,
    WDT_PERIOD_1DIV16 = 3,
    WDT_PERIOD_1DIV8 = 4,
    WDT_PERIOD_1DIV4 = 5,
    WDT_PERIOD_1DIV2 = 6,
    WDT_PERIOD_1X = 7,
    WDT_PERIOD_2X = 8,
    WDT_PERIOD_4X = 9,
    WDT_PERIOD_8X = 10
};
void sodaq_wdt_enable(wdt_period periodo);
void sodaq_wdt_reset();

// Stops for good without feeding the watchdog, so that it resets the board.
// Every deliberate "wait for the watchdog" of the firmware goes through here.
[[noreturn]] void esperar_reset_por_watchdog();

// ---------------------------------------------------------------- NVM controller
// Register access to the NVM controller, enough to check and rewrite the user row.
uint32_t nvm_leer_status();
void nvm_escribir_status(uint32_t valor);
uint32_t nvm_leer_ctrlb();
void nvm_escribir_ctrlb(uint32_t valor);
void nvm_escribir_addr(uint32_t direccion_palabra);
void nvm_escribir_ctrla(uint32_t comando);
bool nvm_intflag_ready();
uint32_t nvm_leer_fila_usuario(uint8_t palabra);
void nvm_escribir_fila_usuario(uint8_t palabra, uint32_t valor);

// ---------------------------------------------------------------- flash-emulated EEPROM
// A RAM copy of the page, loaded from flash on first use; commit() writes the
// copy back with its validity mark when anything has changed.
class EEPROMClass {
public:
    uint8_t read(int direccion);
    void write(int direccion, uint8_t valor);
    void commit();
    bool isValid();
    int length() const;
};
extern EEPROMClass EEPROM;

#endif
