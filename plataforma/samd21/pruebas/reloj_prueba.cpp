// A test image of the board runtime's time on the emulated chip: the very
// start-up, SysTick and micros()/millis() of the runtime, with a setup and a
// loop of its own. For its first two seconds the loop reads micros() as fast
// as it can and counts every reading that went back or jumped; then it sleeps
// between SysTick's interrupts, so that hours of virtual time pass quickly
// and millis() can be held against the world's time.
#include "../../plataforma.h"
#include "../nvic.h"

extern "C" {
volatile uint32_t reloj_lecturas = 0, reloj_retrocesos = 0, reloj_saltos = 0, reloj_mayor_salto_us = 0;
volatile uint32_t reloj_ms = 0;

void setup(void) {}

void loop(void)
{
    static uint32_t previo = micros();
    if (millis() < 2000u) {
        uint32_t us = micros();
        uint32_t paso = us - previo;
        if ((int32_t)paso < 0) reloj_retrocesos = reloj_retrocesos + 1;
        else if (paso > reloj_mayor_salto_us) reloj_mayor_salto_us = paso;
        if ((int32_t)paso > 1000) reloj_saltos = reloj_saltos + 1;
        previo = us;
        reloj_lecturas = reloj_lecturas + 1;
    } else {
        samd21::esperar_interrupcion();
    }
    reloj_ms = millis();
    sodaq_wdt_reset();
}

void TCC0_Handler(void) {}
}
