// The SD card's block device (plataforma/sd/bloques_sd.h) on the chip: the
// SD SPI protocol of tarjeta_spi.h over SERCOM1 as SPI master (mode 0, MSB
// first), 400 kHz while the card starts and 12 MHz after, chip select on
// PA13 as a plain output. Polled: no interrupt.
//
// There is no card-detect line: every start is a new insertion number, and a
// card that stops answering its status is forgotten until the next start.
#include "../plataforma.h"
#include "../sd/bloques_sd.h"
#include "gclk.h"
#include "nvic.h"
#include "pm.h"
#include "port.h"
#include "sercom.h"
#include "tabla_pines.h"
#include "tarjeta_spi.h"

using namespace samd21;

namespace {

constexpr uint32_t HZ_INICIO = 400000u;
constexpr uint32_t HZ_TRABAJO = 12000000u;

class BusSercom : public BusSpi {
public:
    uint8_t intercambiar(uint8_t salida) override
    {
        Sercom &s = spi();
        while (!(s.INTFLAG & SERCOM_INT_DRE)) {}
        s.DATA = salida;
        while (!(s.INTFLAG & SERCOM_INT_RXC)) {}
        return (uint8_t)s.DATA;
    }
    void seleccionar(bool activa) override { digitalWrite(BUS_TARJETA.cs_arduino, activa ? LOW : HIGH); }
    void velocidad_inicio(bool lenta) override
    {
        preparar();
        Sercom &s = spi();
        s.CTRLA = s.CTRLA & ~SERCOM_CTRLA_ENABLE;
        while (s.SYNCBUSY & SERCOM_SYNCBUSY_ENABLE) {}
        s.BAUD_SPI = baud_spi(lenta ? HZ_INICIO : HZ_TRABAJO);
        s.CTRLA = s.CTRLA | SERCOM_CTRLA_ENABLE;
        while (s.SYNCBUSY & SERCOM_SYNCBUSY_ENABLE) {}
    }
    uint32_t milisegundos() override { return millis(); }
    // The card's busy line is looked at once per interrupt (the millisecond
    // at the latest) instead of at the bus's full rate; only in the main
    // loop, where any interrupt can wake the core.
    void pausa() override
    {
        if (ipsr() == 0) esperar_interrupcion();
    }
    void esperando() override { sodaq_wdt_reset(); }

private:
    static Sercom &spi() { return sercom(BUS_TARJETA.sercom); }
    void preparar()
    {
        if (listo_) return;
        listo_ = true;
        pinMode(BUS_TARJETA.cs_arduino, OUTPUT);
        digitalWrite(BUS_TARJETA.cs_arduino, HIGH);
        PM.APBCMASK = PM.APBCMASK | (PM_APBCMASK_SERCOM0 << BUS_TARJETA.sercom);
        GCLK.CLKCTRL = (uint16_t)((GCLK_ID_SERCOM0_CORE + BUS_TARJETA.sercom) | (0u << GCLK_CLKCTRL_GEN_POS) |
                                  GCLK_CLKCTRL_CLKEN);
        while (GCLK.STATUS & GCLK_STATUS_SYNCBUSY) {}
        Sercom &s = spi();
        s.CTRLA = SERCOM_CTRLA_SWRST;
        while (s.SYNCBUSY & SERCOM_SYNCBUSY_SWRST) {}
        // Mode 0 (CPOL 0, CPHA 0), MSB first, 8-bit characters.
        s.CTRLA = (SERCOM_MODE_SPI_MAESTRO << SERCOM_CTRLA_MODE_POS) |
                  ((uint32_t)BUS_TARJETA.dopo << SERCOM_SPI_CTRLA_DOPO_POS) |
                  ((uint32_t)BUS_TARJETA.dipo << SERCOM_SPI_CTRLA_DIPO_POS);
        s.CTRLB = SERCOM_CTRLB_RXEN;
        while (s.SYNCBUSY & SERCOM_SYNCBUSY_CTRLB) {}
        s.BAUD_SPI = baud_spi(HZ_INICIO);
        conectar_linea_sercom(BUS_TARJETA.mosi);
        conectar_linea_sercom(BUS_TARJETA.sck);
        conectar_linea_sercom(BUS_TARJETA.miso);
    }
    bool listo_ = false;
};

BusSercom g_bus;
TarjetaSpi g_tarjeta(g_bus);
uint32_t g_insercion = 0;

bool vigente(uint32_t insercion) { return insercion == g_insercion && g_tarjeta.iniciada(); }

}  // namespace

bool sd_bloques_iniciar(uint32_t *insercion)
{
    *insercion = ++g_insercion;
    return g_tarjeta.iniciar();
}

uint32_t sd_bloques_cantidad(uint32_t insercion)
{
    if (!vigente(insercion)) return 0;
    if (!g_tarjeta.estado()) {
        g_tarjeta.olvidar();
        return 0;
    }
    return g_tarjeta.bloques();
}

bool sd_bloques_leer(uint32_t insercion, uint32_t bloque, uint8_t *datos)
{
    return vigente(insercion) && g_tarjeta.leer(bloque, datos);
}

bool sd_bloques_escribir(uint32_t insercion, uint32_t bloque, const uint8_t *datos)
{
    return vigente(insercion) && g_tarjeta.escribir(bloque, datos);
}

bool sd_bloques_borrar(uint32_t insercion, uint32_t primero, uint32_t ultimo)
{
    return vigente(insercion) && g_tarjeta.borrar(primero, ultimo);
}
