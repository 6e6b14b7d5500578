// Scan of a sensor burst: frame starts, fixed lengths, CRC, resume rules.
#include <gtest/gtest.h>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "sensor/sensor.h"
#include "sensor/tests/tramas.h"
#include "waves/muestras.h"

namespace {

class Escaneo : public ::testing::Test {
protected:
    void SetUp() override
    {
        estado_inicial_muestras();
        CTE_USO_APP_TOV03 = 1;
        banco.borrar_salidas();
    }
    void TearDown() override { estado_inicial_muestras(); }
    std::string telemetria() { return banco.salida(0); }
    BancoPruebas banco;
};

size_t veces(const std::string &t, const std::string &b)
{
    size_t n = 0;
    for (size_t p = t.find(b); p != std::string::npos; p = t.find(b, p + 1)) n++;
    return n;
}

TEST(Crc, ValoresDeComprobacion)
{
    const char *digitos = "123456789";
    EXPECT_EQ(calcCRC(digitos, 9, 0), 0x2189);
    const char *letras = "xxabc";
    EXPECT_EQ(calcCRC(letras, 5, 2), 0x58E9);
    EXPECT_EQ(calcCRC(letras, 2, 2), 0);  // empty range
}

// Eight right shifts per byte, as the sbgECom protocol defines its CRC.
uint16_t crc_bit_a_bit(const uint8_t *p, size_t desde, size_t hasta)
{
    uint16_t crc = 0;
    for (size_t i = desde; i < hasta; i++) {
        crc ^= p[i];
        for (int b = 0; b < 8; b++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
    return crc;
}

TEST(Crc, TramasConocidasYCadaByteComoAlDesplazarBitABit)
{
    // An EKF Euler frame (32-byte payload 0x10..0x2F) and a ship-motion one
    // (47 bytes), with the CRCs worked out by hand from the definition: the
    // CRC covers the identifier up to the last payload byte.
    Bytes euler = {0xFF, 0x5A, 0x06, 0x00, 0x20, 0x00};
    for (uint8_t b = 0x10; b < 0x30; b++) euler.push_back(b);
    EXPECT_EQ(calcCRC(euler.data(), (uint16_t)euler.size(), 2), 0x210D);
    Bytes barco = {0xFF, 0x5A, 0x09, 0x00, 0x2F, 0x00};
    for (int i = 0; i < 47; i++) barco.push_back((uint8_t)(i * 37 + 11));
    EXPECT_EQ(calcCRC(barco.data(), (uint16_t)barco.size(), 2), 0x042C);

    // Every byte value alone and after each other one.
    for (int a = 0; a < 256; a++) {
        uint8_t uno[1] = {(uint8_t)a};
        ASSERT_EQ(calcCRC(uno, 1, 0), crc_bit_a_bit(uno, 0, 1)) << a;
        for (int b = 0; b < 256; b += 17) {
            uint8_t dos[2] = {(uint8_t)a, (uint8_t)b};
            ASSERT_EQ(calcCRC(dos, 2, 0), crc_bit_a_bit(dos, 0, 2)) << a << " " << b;
        }
    }
    // Pseudo-random buffers, every start and end within 300 bytes.
    uint8_t buf[300];
    uint32_t x = 12345;
    for (uint8_t &b : buf) {
        x = x * 1103515245u + 12345u;
        b = (uint8_t)(x >> 16);
    }
    for (size_t desde = 0; desde < 40; desde++)
        for (size_t hasta = desde; hasta <= sizeof buf; hasta += 7)
            ASSERT_EQ(calcCRC(buf, (uint16_t)hasta, (uint16_t)desde), crc_bit_a_bit(buf, desde, hasta))
                << desde << ".." << hasta;
    // A start beyond the end is an empty range.
    EXPECT_EQ(calcCRC(buf, 10, 20), 0);
}

TEST_F(Escaneo, UnaTramaValidaYLaMismaConUnByteCambiado)
{
    Bytes t = ship_motion(5000, 0.5f);
    ASSERT_EQ(t.size(), 55u);
    escanear(t);
    EXPECT_EQ(TernaTiempos1, 5000);
    EXPECT_EQ(TernaDatos1, 50);
    EXPECT_EQ(telemetria(), "#PTO,50.00");

    estado_inicial_muestras();
    CTE_USO_APP_TOV03 = 1;
    banco.borrar_salidas();
    t[30] ^= 0x01;
    escanear(t);
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(telemetria(), "");
}

TEST_F(Escaneo, CrcCalculadaCeroSeRechaza)
{
    // The last two payload bytes are the CRC of what precedes them, so the
    // CRC over the whole frame is 0, and so are the stored CRC bytes.
    Bytes t = ship_motion(7000, 0.25f);
    Bytes sin_crc(t.begin(), t.begin() + 50);
    uint16_t crc = calcCRC(sin_crc.data(), (uint16_t)sin_crc.size(), 2);
    t[50] = (uint8_t)(crc & 0xFF);
    t[51] = (uint8_t)(crc >> 8);
    t[52] = t[53] = 0;
    ASSERT_EQ(calcCRC(t.data(), 52, 2), 0);
    escanear(t);
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
}

TEST_F(Escaneo, InicioFalsoDentroDeLoDescartadoNoEscondeLaTramaVerdadera)
{
    // A candidate start with identifier 9 whose CRC fails: the scan resumes
    // three bytes after it and finds the true frame one byte further on.
    Bytes b = unir({{0xFF, 0x5A, 0x09, 0x00}, ship_motion(1234, -0.1f)});
    escanear(b);
    EXPECT_EQ(TernaTiempos1, 1234);
    EXPECT_EQ(TernaDatos1, -10);
    // 0xFF without 0x5A, and 0xFF in the last position, are no starts.
    estado_inicial_muestras();
    escanear(unir({{0xFF, 0x00, 0xFF}, ekf_euler(99, 1.0f), {0xFF}}));
    EXPECT_EQ(TernaTiempos0, 99);
}

TEST_F(Escaneo, FF5ADentroDeUnaCargaUtil)
{
    Bytes c(46, 0);
    poner_u32(c, 0, 4242);
    c[20] = 0xFF;
    c[21] = 0x5A;
    c[22] = 0x06;  // looks like an Euler frame start
    poner_float(c, 16, 0.01f);
    escanear(unir({trama(9, c), ekf_euler(4242, 0.5f)}));
    EXPECT_EQ(TernaTiempos1, 4242);
    EXPECT_EQ(TernaTiempos0, 4242);
    EXPECT_EQ(veces(telemetria(), "#PTO,"), 1u);
    EXPECT_EQ(veces(telemetria(), "\r\n"), 1u);
}

TEST_F(Escaneo, TresTramasSeguidasEnOrden)
{
    escanear(unir({ship_motion(100, -0.12345f), ekf_nav(100, 0.5f, -0.25f), ekf_euler(100, -113.0f * 3.14159265f / 180.0f)}));
    EXPECT_EQ(telemetria(), "#PTO,-12.35,247\r\n");
    // The three logs made a sample: the window's first slot holds it.
    EXPECT_EQ(TernaDatos_pos1_0, 1);
    EXPECT_EQ(TernaDatos_pos1_1, 100);
    EXPECT_EQ(TernaDatos_pos1_2, 247);
    EXPECT_EQ(TernaDatos_pos1_3, -13);
    EXPECT_FLOAT_EQ(TernaDatos_pos1_4, 0.5f);
    EXPECT_FLOAT_EQ(TernaDatos_pos1_5, -0.25f);
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
}

TEST_F(Escaneo, RafagaCortadaEnMitadDeUnaTrama)
{
    Bytes sm = ship_motion(300, 0.3f);
    Bytes primera = unir({ekf_euler(300, 0.2f), Bytes(sm.begin(), sm.begin() + 30)});
    escanear(primera);
    EXPECT_EQ(TernaTiempos0, 300);
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    escanear(Bytes(sm.begin() + 30, sm.end()));
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(veces(telemetria(), "#PTO,"), 0u);
}

TEST_F(Escaneo, ByteFinalEquivocadoSeAceptaYClaseDistintaSeIgnora)
{
    Bytes c(32, 0);
    poner_u32(c, 0, 55);
    escanear(trama(6, c, 0, 0x44));
    EXPECT_EQ(TernaTiempos0, 55);
    estado_inicial_muestras();
    escanear(trama(6, c, 1));
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
    // Another identifier with a good CRC is passed over too.
    escanear(unir({trama(7, Bytes(20, 1)), ekf_euler(66, 0.1f)}));
    EXPECT_EQ(TernaTiempos0, 66);
}

TEST_F(Escaneo, SoloBasuraNoDaNada)
{
    Bytes b(600);
    for (size_t i = 0; i < b.size(); i++) b[i] = (uint8_t)(i * 37 % 251);
    b[100] = 0xFF;
    b[101] = 0x5A;
    escanear(b);
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(TernaTiempos2, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(telemetria(), "");
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Escaneo, ModoTransparenteCopiaLaRafaga)
{
    CTE_MODO_TRANSPARENTE = 1;
    Bytes b = unir({ship_motion(1, 0.1f), ekf_nav(1, 0.1f, 0.1f), ekf_euler(1, 0.1f)});
    escanear(b);
    EXPECT_EQ(telemetria(), texto(b));
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    EXPECT_EQ(TernaDatos_pos1_0, 0);
}

TEST_F(Escaneo, EulerDelProtocoloActualCon40Bytes)
{
    Bytes larga = ekf_euler(800, 1.0f, 40);
    ASSERT_EQ(larga.size(), 49u);
    escanear(unir({larga, ship_motion(800, 0.2f)}));
    EXPECT_EQ(TernaTiempos0, 800);
    EXPECT_EQ(TernaDatos0, 57);
    EXPECT_EQ(TernaTiempos1, 800);  // the scan went on after its end byte
    // A longer frame with a bad CRC, or one that runs past the burst, is dropped.
    estado_inicial_muestras();
    Bytes mala = larga;
    mala[20] ^= 0x80;
    escanear(mala);
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
    escanear(Bytes(larga.begin(), larga.end() - 1));
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
    // A length field that claims more than the burst holds reads nothing beyond it.
    Bytes enorme = ekf_euler(900, 1.0f);
    enorme[4] = 0xFF;
    enorme[5] = 0xFF;
    escanear(enorme);
    EXPECT_EQ(TernaTiempos0, TIEMPO_NO_RECIBIDO);
}

// The main loop's reception: 1500 bytes at once fill the 1024-byte buffer,
// the 1025th byte is lost and the rest is scanned as the next burst.
TEST(Recepcion, RafagaDe1500Bytes)
{
    BancoPruebas banco(true);
    estado_inicial_muestras();
    CTE_USO_APP_TOV03 = 1;
    configureTCC0(47999, 0);
    Bytes b;
    for (uint32_t k = 0; k < 15; k++)
        b = unir({b, ship_motion(1000 + k, 0.01f * (float)k), ekf_euler(1000 + k, 0.1f)});
    b = unir({b, Bytes(1500 - b.size(), 0x00)});
    ASSERT_EQ(b.size(), 1500u);
    banco.enviar(2, texto(b));
    recepcion_sensor();
    EXPECT_EQ(icantidad_bytes_rx_sensor, 1024u);
    recepcion_sensor();
    EXPECT_EQ(icantidad_bytes_rx_sensor, 1500u - 1025u);
    EXPECT_EQ(resSbgOk, 1);
    // Pair 10 straddles the cut: its ship motion is used, its Euler log lost.
    std::string t = banco.salida(0);
    EXPECT_EQ(veces(t, "#PTO,"), 15u);
    EXPECT_EQ(veces(t, "\r\n"), 14u);
    EXPECT_NE(t.find("#PTO,10.00#PTO,11.00,6\r\n"), std::string::npos);
    estado_inicial_muestras();
}

}  // namespace
