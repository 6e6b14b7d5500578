// The target board's wiring table: every pin the firmware drives or reads is
// wired, no line serves two purposes (but the chip select's two numbers),
// the serial ports' pads agree with their pad settings, and the baud values
// come out as the SERCOM's arithmetic asks.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

#include "plataforma/samd21/tabla_pines.h"

using namespace samd21;

namespace {

using Linea = std::pair<uint8_t, uint8_t>;   // group, bit

TEST(Samd21Pines, CadaPinDelFirmwareTieneSuLineaYNingunaLineaSirveADosFines)
{
    for (uint32_t pin : {15u, 17u, 19u, 20u, 21u, 28u, 32u, 33u, 35u, 39u, 40u, 41u, 42u, 59u})
        EXPECT_NE(buscar_pin(pin), nullptr) << pin;
    EXPECT_EQ(buscar_pin(0), nullptr);
    EXPECT_EQ(buscar_pin(60), nullptr);

    std::map<Linea, uint8_t> usadas;   // line -> pin number
    for (const PinPlaca &p : PINES_PLACA) {
        ASSERT_LE(p.grupo, GRUPO_PB);
        ASSERT_LT(p.bit, 32);
        Linea l{p.grupo, p.bit};
        auto it = usadas.find(l);
        if (it != usadas.end()) {
            // Only the card's chip select has two numbers.
            std::set<uint8_t> par{it->second, p.arduino};
            EXPECT_EQ(par, (std::set<uint8_t>{19, 59}));
        }
        usadas[l] = p.arduino;
    }
    EXPECT_EQ(buscar_pin(19)->bit, 13);   // PA13
    EXPECT_EQ(buscar_pin(19)->grupo, GRUPO_PA);

    std::set<Linea> perifericos;
    std::set<uint8_t> sercoms{BUS_TARJETA.sercom};
    auto anotar = [&](const LineaSercom &l) {
        Linea k{l.grupo, l.bit};
        EXPECT_EQ(usadas.count(k), 0u) << "line " << (int)l.grupo << "/" << (int)l.bit << " is also a pin";
        EXPECT_TRUE(perifericos.insert(k).second) << "line " << (int)l.grupo << "/" << (int)l.bit << " twice";
        EXPECT_TRUE(l.funcion == FUNCION_C || l.funcion == FUNCION_D);
    };
    for (const PuertoSerie &p : PUERTOS_SERIE) {
        anotar(p.tx);
        anotar(p.rx);
        EXPECT_TRUE(sercoms.insert(p.sercom).second) << "SERCOM" << (int)p.sercom << " twice";
        EXPECT_EQ(p.irq, 9 + p.sercom);
        // TXPO 0 puts TxD on PAD0, TXPO 1 on PAD2; RXPO names the RxD pad.
        EXPECT_EQ(p.tx.pad, p.txpo == 0 ? 0 : 2);
        EXPECT_LE(p.txpo, 1);
        EXPECT_EQ(p.rx.pad, p.rxpo);
        EXPECT_NE(p.rx.pad, p.tx.pad);
    }
    anotar(BUS_TARJETA.mosi);
    anotar(BUS_TARJETA.sck);
    anotar(BUS_TARJETA.miso);
    // DOPO 0: data out on PAD0 and clock on PAD1; DIPO names the data-in pad.
    EXPECT_EQ(BUS_TARJETA.dopo, 0);
    EXPECT_EQ(BUS_TARJETA.mosi.pad, 0);
    EXPECT_EQ(BUS_TARJETA.sck.pad, 1);
    EXPECT_EQ(BUS_TARJETA.miso.pad, BUS_TARJETA.dipo);
    EXPECT_EQ(usadas.count(Linea{GRUPO_PA, 13}), 1u);
}

// The index built at compile time answers as the table does: each number
// finds its own entry, every other number (out of range too) none, and two
// numbers share a line's slot exactly when they share the line.
TEST(Samd21Pines, ElIndiceDePinesCoincideConLaTabla)
{
    for (uint32_t n = 0; n < 300; n++) {
        const PinPlaca *esperado = nullptr;
        for (const PinPlaca &p : PINES_PLACA)
            if (p.arduino == n) esperado = &p;
        EXPECT_EQ(buscar_pin(n), esperado) << n;
    }
    EXPECT_EQ(buscar_pin(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(buscar_pin(0x100u + 19u), nullptr);   // no truncation to a byte

    for (uint8_t a = 0; a < NUM_PINES_PLACA; a++) {
        EXPECT_EQ(indice_pin(PINES_PLACA[a].arduino), a);
        EXPECT_LT(ranura_linea(a), NUM_PINES_PLACA);
        for (uint8_t b = 0; b < NUM_PINES_PLACA; b++) {
            bool misma_linea = PINES_PLACA[a].grupo == PINES_PLACA[b].grupo && PINES_PLACA[a].bit == PINES_PLACA[b].bit;
            EXPECT_EQ(ranura_linea(a) == ranura_linea(b), misma_linea)
                << (int)PINES_PLACA[a].arduino << " " << (int)PINES_PLACA[b].arduino;
        }
    }
    EXPECT_EQ(ranura_linea(indice_pin(19)), ranura_linea(indice_pin(59)));
    EXPECT_EQ(indice_pin(60), SIN_ENTRADA);
    static_assert(buscar_pin(32)->bit == 20 && buscar_pin(60) == nullptr, "the lookup is a constant expression");
}

TEST(Samd21Pines, ValoresDeBaudios)
{
    // 65536 (1 - 16 f / 48 MHz), rounded.
    EXPECT_EQ(baud_usart(115200), 63019);
    EXPECT_EQ(baud_usart(38400), 64697);
    EXPECT_EQ(baud_usart(9600), 65326);
    EXPECT_EQ(baud_usart(3000000), 0);
    EXPECT_EQ(baud_usart(4000000), 0);   // beyond the divider: the fastest rate
    // f = 48 MHz / (2 (BAUD + 1)), never above the asked rate.
    EXPECT_EQ(baud_spi(400000), 59);
    EXPECT_EQ(baud_spi(12000000), 1);
    EXPECT_EQ(baud_spi(50000000), 0);
    EXPECT_EQ(baud_spi(300000), 79);
    EXPECT_EQ(baud_spi(100000), 239);
    EXPECT_EQ(baud_spi(1000), 255);
}

}  // namespace
