// The target's EEPROM copies on a simulated flash that obeys the chip's rules
// (erase sets a row to 0xFF, programming only clears bits) and that can lose
// power in the middle of any erase or page write.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plataforma/samd21/eeprom_copias.h"

using samd21::CopiasEeprom;

namespace {

struct Corte {};

class FlashSimulada : public samd21::FlashEeprom {
public:
    explicit FlashSimulada(uint32_t filas) : memoria(filas * CopiasEeprom::BYTES_FILA, 0xFF), borrados(filas, 0) {}

    std::vector<uint8_t> memoria;
    std::vector<int> borrados;
    long pasos = 0;        // erases and page writes so far
    long cortar_en = -1;   // the step during which power goes
    int forma_corte = 0;   // how much of the cut step got done
    bool fallar = false;   // the controller reports an error

    void leer(uint32_t d, uint8_t *datos, size_t n) override
    {
        ASSERT_LE(d + n, memoria.size());
        std::memcpy(datos, memoria.data() + d, n);
    }
    bool borrar_fila(uint32_t d) override
    {
        EXPECT_EQ(d % CopiasEeprom::BYTES_FILA, 0u);
        if (fallar) return false;
        uint8_t *fila = memoria.data() + d;
        if (pasos++ == cortar_en) {
            // An erase cut short leaves some cells erased and others as they were.
            for (uint32_t i = 0; i < CopiasEeprom::BYTES_FILA; i++)
                if ((i * 7 + (uint32_t)forma_corte) % 3 == 0) fila[i] = 0xFF;
            throw Corte{};
        }
        std::memset(fila, 0xFF, CopiasEeprom::BYTES_FILA);
        borrados[d / CopiasEeprom::BYTES_FILA]++;
        return true;
    }
    bool escribir_pagina(uint32_t d, const uint8_t *pagina) override
    {
        EXPECT_EQ(d % CopiasEeprom::BYTES_PAGINA, 0u);
        if (fallar) return false;
        uint8_t *destino = memoria.data() + d;
        uint32_t hasta = CopiasEeprom::BYTES_PAGINA;
        bool corte = pasos++ == cortar_en;
        if (corte) hasta = (uint32_t)forma_corte % CopiasEeprom::BYTES_PAGINA;
        for (uint32_t i = 0; i < hasta; i++) destino[i] &= pagina[i];
        if (corte) {
            // The byte being programmed got only some of its zeros.
            destino[hasta] &= (uint8_t)(pagina[hasta] | 0x5A);
            throw Corte{};
        }
        return true;
    }
};

std::vector<uint8_t> imagen_de(CopiasEeprom &c)
{
    std::vector<uint8_t> v(CopiasEeprom::BYTES_IMAGEN);
    for (uint32_t i = 0; i < CopiasEeprom::BYTES_IMAGEN; i++) v[i] = c.leer((int)i);
    return v;
}

std::vector<uint8_t> imagen_numero(int n)
{
    std::vector<uint8_t> v(CopiasEeprom::BYTES_IMAGEN);
    for (uint32_t i = 0; i < v.size(); i++) v[i] = (uint8_t)(n * 37 + i * 11 + (i == 0 ? 0 : n));
    return v;
}

void guardar(CopiasEeprom &c, const std::vector<uint8_t> &v)
{
    for (uint32_t i = 0; i < v.size(); i++) c.escribir((int)i, v[i]);
    c.confirmar();
}

TEST(Samd21Eeprom, UnaPlacaNuevaNoTieneImagenYLeeCeros)
{
    FlashSimulada f(4);
    CopiasEeprom c(f, 4);
    c.cargar();
    EXPECT_FALSE(c.valida());
    EXPECT_EQ(imagen_de(c), std::vector<uint8_t>(CopiasEeprom::BYTES_IMAGEN, 0));
    // Nothing changed: nothing is written.
    EXPECT_TRUE(c.confirmar());
    EXPECT_EQ(f.pasos, 0);
}

TEST(Samd21Eeprom, CadaConfirmacionSobreviveAlReinicioYRotaPorLasFilas)
{
    FlashSimulada f(4);
    for (int n = 1; n <= 40; n++) {
        CopiasEeprom c(f, 4);
        c.cargar();
        if (n > 1) {
            EXPECT_EQ(imagen_de(c), imagen_numero(n - 1));
        }
        guardar(c, imagen_numero(n));
        EXPECT_EQ(c.secuencia(), (uint32_t)n);
    }
    // The erasures are spread evenly over the four rows.
    for (int b : f.borrados) EXPECT_EQ(b, 10);
    // Out-of-range addresses are neither read nor written.
    CopiasEeprom c(f, 4);
    c.cargar();
    c.escribir(-1, 9);
    c.escribir((int)CopiasEeprom::BYTES_IMAGEN, 9);
    EXPECT_FALSE(c.pendiente());
    EXPECT_EQ(c.leer(-1), 0);
    EXPECT_EQ(c.leer(100000), 0);
}

// Power goes in every step of a commit, in several ways: afterwards the
// image read is the last complete one (the new one only if its mark is in),
// and the next commit works.
TEST(Samd21Eeprom, UnCorteEnCualquierPasoDejaLaUltimaImagenCompleta)
{
    for (uint32_t filas : {2u, 4u})
    for (int previas = 0; previas <= 5; previas++) {
        for (long paso = 0; paso < 4; paso++) {
            for (int forma : {0, 1, 3, 23, 46, 69}) {
                FlashSimulada f(filas);
                for (int n = 1; n <= previas; n++) {
                    CopiasEeprom c(f, filas);
                    c.cargar();
                    guardar(c, imagen_numero(n));
                }
                CopiasEeprom c(f, filas);
                c.cargar();
                f.cortar_en = f.pasos + paso;
                f.forma_corte = forma;
                bool cortado = false;
                try {
                    guardar(c, imagen_numero(100));
                } catch (Corte &) {
                    cortado = true;
                }
                ASSERT_TRUE(cortado) << paso;
                CopiasEeprom d(f, filas);
                d.cargar();
                SCOPED_TRACE(testing::Message() << "filas " << filas << " previas " << previas << " paso " << paso << " forma " << forma);
                // Step 3 programs the mark page: the cut came after the mark's
                // four bytes were in when forma is 4 or more.
                bool marca_escrita = paso == 3 && forma % (int)CopiasEeprom::BYTES_PAGINA >= 4;
                if (marca_escrita) {
                    EXPECT_TRUE(d.valida());
                    EXPECT_EQ(imagen_de(d), imagen_numero(100));
                } else {
                    EXPECT_EQ(d.valida(), previas > 0);
                    EXPECT_EQ(imagen_de(d), previas > 0 ? imagen_numero(previas)
                                                        : std::vector<uint8_t>(CopiasEeprom::BYTES_IMAGEN, 0));
                }
                f.cortar_en = -1;
                guardar(d, imagen_numero(101));
                CopiasEeprom e(f, filas);
                e.cargar();
                EXPECT_EQ(imagen_de(e), imagen_numero(101));
            }
        }
    }
}

TEST(Samd21Eeprom, UnaCopiaDanadaNoCuentaYSeUsaLaAnterior)
{
    FlashSimulada f(4);
    for (int n = 1; n <= 3; n++) {
        CopiasEeprom c(f, 4);
        c.cargar();
        guardar(c, imagen_numero(n));
    }
    // Copy 3 is in row 2: one flipped bit in its image.
    f.memoria[2 * CopiasEeprom::BYTES_FILA + 8 + 5] ^= 0x10;
    CopiasEeprom c(f, 4);
    c.cargar();
    EXPECT_TRUE(c.valida());
    EXPECT_EQ(imagen_de(c), imagen_numero(2));
    // Garbage everywhere: no image, zeros, and a commit still finds a row.
    for (size_t i = 0; i < f.memoria.size(); i++) f.memoria[i] = (uint8_t)(i * 13 + 7);
    CopiasEeprom d(f, 4);
    d.cargar();
    EXPECT_FALSE(d.valida());
    EXPECT_EQ(imagen_de(d), std::vector<uint8_t>(CopiasEeprom::BYTES_IMAGEN, 0));
    guardar(d, imagen_numero(7));
    CopiasEeprom e(f, 4);
    e.cargar();
    EXPECT_TRUE(e.valida());
    EXPECT_EQ(imagen_de(e), imagen_numero(7));
}

TEST(Samd21Eeprom, UnErrorDelControladorDejaLaImagenPendienteYLaAnteriorEnVigor)
{
    FlashSimulada f(4);
    CopiasEeprom c(f, 4);
    c.cargar();
    guardar(c, imagen_numero(1));
    f.fallar = true;
    for (uint32_t i = 0; i < CopiasEeprom::BYTES_IMAGEN; i++) c.escribir((int)i, imagen_numero(2)[i]);
    EXPECT_FALSE(c.confirmar());
    EXPECT_TRUE(c.pendiente());
    CopiasEeprom d(f, 4);
    d.cargar();
    EXPECT_EQ(imagen_de(d), imagen_numero(1));
    f.fallar = false;
    EXPECT_TRUE(c.confirmar());
    CopiasEeprom e(f, 4);
    e.cargar();
    EXPECT_EQ(imagen_de(e), imagen_numero(2));
}

}  // namespace
