// The board calls of plataforma.h on the simulated board.
#include "../plataforma.h"
#include "placa_host.h"

using placa::actual;

HardwareSerial Serial(0);
HardwareSerial Serial1(1);
HardwareSerial Serial2(2);
HardwareSerial Serial3(3);
EEPROMClass EEPROM;

void HardwareSerial::begin(uint32_t baudios) { actual().uart_begin(numero_, baudios); }
void HardwareSerial::end() { actual().uart_end(numero_); }
int HardwareSerial::available() { return actual().uart_available(numero_); }
int HardwareSerial::read() { return actual().uart_read(numero_); }
int HardwareSerial::peek() { return actual().uart_peek(numero_); }
void HardwareSerial::flush() { actual().uart_flush(numero_); }
size_t HardwareSerial::write(uint8_t byte)
{
    actual().uart_write(numero_, byte);
    return 1;
}

void pinMode(uint32_t pin, uint32_t modo) { actual().pin_modo(pin, modo); }
void digitalWrite(uint32_t pin, uint32_t nivel) { actual().pin_escribir(pin, nivel); }
int digitalRead(uint32_t pin) { return actual().pin_leer(pin); }

uint32_t millis()
{
    actual().avanzar(placa::Placa::COSTE_LLAMADA);
    return (uint32_t)(actual().ciclo() / (placa::HZ_NOMINAL / 1000));
}

uint32_t micros()
{
    actual().avanzar(placa::Placa::COSTE_LLAMADA);
    return (uint32_t)(actual().ciclo() / (placa::HZ_NOMINAL / 1000000));
}

void delay(uint32_t milisegundos)
{
    actual().avanzar((uint64_t)milisegundos * (placa::HZ_NOMINAL / 1000));
}

void nvic_tcc0_desactivar() { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().tcc0_nvic(false); }
void gclk_tcc0_conectar(uint16_t clkctrl) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().tcc0_gclk(clkctrl); }
void tcc0_desactivar() { actual().tcc0_activar(false); }
void tcc0_reset_software() { actual().tcc0_reset(); }
void tcc0_prescaler(uint8_t campo) { actual().tcc0_prescaler(campo); }
void tcc0_forma_onda_normal() { actual().avanzar(placa::Placa::COSTE_LLAMADA); }
void tcc0_periodo(uint32_t periodo) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().tcc0_periodo(periodo); }
void tcc0_comparacion0(uint32_t valor) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().tcc0_cc0(valor); }
void tcc0_interrupcion_mc0_habilitar() { actual().tcc0_intenset_mc0(); }
void nvic_tcc0_activar(uint8_t prioridad) { (void)prioridad; actual().tcc0_nvic(true); }
void tcc0_habilitar() { actual().tcc0_activar(true); }
bool tcc0_flag_mc0() { return actual().tcc0_flag(); }
void tcc0_borrar_flag_mc0() { actual().tcc0_borrar_flag(); }

void sodaq_wdt_enable(wdt_period periodo) { actual().wdt_enable((int)periodo); }
void sodaq_wdt_reset() { actual().wdt_reset(); }
void esperar_reset_por_watchdog() { actual().parada_hasta_watchdog(); }

uint32_t nvm_leer_status() { actual().avanzar(placa::Placa::COSTE_LLAMADA); return actual().nvm_status(); }
void nvm_escribir_status(uint32_t valor) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().nvm_set_status(valor); }
uint32_t nvm_leer_ctrlb() { actual().avanzar(placa::Placa::COSTE_LLAMADA); return actual().nvm_ctrlb(); }
void nvm_escribir_ctrlb(uint32_t valor) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().nvm_set_ctrlb(valor); }
void nvm_escribir_addr(uint32_t direccion) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().nvm_set_addr(direccion); }
void nvm_escribir_ctrla(uint32_t comando) { actual().nvm_comando(comando); }
bool nvm_intflag_ready() { actual().avanzar(placa::Placa::COSTE_LLAMADA); return true; }
uint32_t nvm_leer_fila_usuario(uint8_t palabra) { actual().avanzar(placa::Placa::COSTE_LLAMADA); return actual().nvm_fila(palabra); }
void nvm_escribir_fila_usuario(uint8_t palabra, uint32_t valor) { actual().avanzar(placa::Placa::COSTE_LLAMADA); actual().nvm_escribir_fila(palabra, valor); }

uint8_t EEPROMClass::read(int direccion) { return actual().eeprom_read(direccion); }
void EEPROMClass::write(int direccion, uint8_t valor) { actual().eeprom_write(direccion, valor); }
void EEPROMClass::commit() { actual().eeprom_commit(); }
int EEPROMClass::length() const { return placa::Placa::EEPROM_BYTES; }
bool EEPROMClass::isValid()
{
    bool valida = actual().eeprom_is_valid();
    Serial1.print("IsValid.  Inizializada: ");
    Serial1.println(valida ? 1 : 0);
    return valida;
}
