// The simulated board: wire timing, receive buffers, rates, watchdog, EEPROM.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "plataforma/host/monticulo_host.h"
#include "plataforma/plataforma.h"
#include "plataforma/tests/banco_pruebas.h"

namespace {

TEST(PlacaUart, CadaByteTardaSuTiempoEnElCable)
{
    BancoPruebas banco;
    uint64_t inicio = banco.placa.ciclo();
    Serial3.print("0123456789");  // 9600 baud: about 1.04 ms a byte
    Serial3.flush();
    double ms = (banco.placa.ciclo() - inicio) / 48000.0;
    EXPECT_NEAR(ms, 10 * 10 * 1000.0 / 9600.0, 0.1);
    EXPECT_EQ(banco.salida(3), "0123456789");
}

TEST(PlacaUart, BufferDeRecepcionLlenoDescartaLoNuevo)
{
    BancoPruebas banco;
    banco.placa.configurar_buffer_rx(16);
    banco.enviar(2, std::string(40, 'x') + "END");
    banco.placa.avanzar(48000 * 10);
    EXPECT_EQ(Serial2.available(), 16);
    EXPECT_EQ(banco.placa.estadisticas(2).bytes_descartados, 27u);
    EXPECT_EQ(Serial2.read(), 'x');
}

TEST(PlacaUart, VelocidadDistintaLlegaDesfigurada)
{
    BancoPruebas banco;
    std::string texto = "$TOV03,1,8*00\r\n";
    banco.placa.enviar_a_placa(0, reinterpret_cast<const uint8_t *>(texto.data()), texto.size(), 9600,
                               banco.placa.ciclo());
    banco.placa.avanzar(48000 * 50);
    std::string leido;
    while (Serial.available() > 0) leido.push_back((char)Serial.read());
    EXPECT_EQ(leido.size(), texto.size());
    EXPECT_NE(leido, texto);
    // Same rate: intact.
    banco.enviar(0, texto);
    banco.placa.avanzar(48000 * 50);
    leido.clear();
    while (Serial.available() > 0) leido.push_back((char)Serial.read());
    EXPECT_EQ(leido, texto);
}

TEST(PlacaUart, UnaEsperaSinBytesSaltaAlSiguienteEvento)
{
    BancoPruebas banco;
    banco.placa.enviar_a_placa(2, reinterpret_cast<const uint8_t *>("A"), 1, 115200,
                               banco.placa.ciclo() + 48000 * 500);
    int pasadas = 0;
    while (Serial2.available() == 0) pasadas++;
    EXPECT_LT(pasadas, 2000);  // a poll jumps, at most 1 ms at a time
    EXPECT_GE(banco.placa.ciclo(), 48000u * 500);
}

TEST(PlacaWatchdog, SinAlimentarDosSegundosReinicia)
{
    BancoPruebas banco;
    sodaq_wdt_enable(WDT_PERIOD_2X);
    for (int i = 0; i < 30; i++) {
        delay(100);
        sodaq_wdt_reset();
    }
    uint64_t alimentado = banco.placa.ciclo();
    try {
        delay(5000);
        FAIL();
    } catch (const placa::ReinicioPlaca &r) {
        EXPECT_EQ(r.causa, placa::CAUSA_WATCHDOG);
        EXPECT_NEAR((double)(r.ciclo - alimentado) / 48e6, 2.0, 1e-3);
    }
}

TEST(PlacaWatchdog, ParadaDeliberada)
{
    BancoPruebas banco;
    sodaq_wdt_enable(WDT_PERIOD_2X);
    delay(500);
    uint64_t antes = banco.placa.ciclo();
    try {
        esperar_reset_por_watchdog();
    } catch (const placa::ReinicioPlaca &r) {
        EXPECT_EQ(r.causa, placa::CAUSA_PARADA_FIRMWARE);
        EXPECT_NEAR((double)(r.ciclo - antes) / 48e6, 1.5, 1e-3);
    }
}

TEST(PlacaEeprom, NuncaProgramadaSeLeeACerosYNoEsValida)
{
    BancoPruebas banco;
    std::string ruta = fichero_temporal("olas_eeprom_nueva.bin");
    banco.placa.configurar_eeprom(ruta);
    EXPECT_FALSE(banco.placa.eeprom_is_valid());
    for (int i = 0; i < 32; i++) EXPECT_EQ(EEPROM.read(i), 0);
    EEPROM.commit();  // nothing changed: nothing written
    EXPECT_EQ(banco.placa.eeprom_commits(), 0u);
    EXPECT_FALSE(std::filesystem::exists(ruta));
}

TEST(PlacaEeprom, CommitSoloSiCambiaAlgoYSobreviveAlReinicio)
{
    BancoPruebas banco;
    std::string ruta = fichero_temporal("olas_eeprom_commit.bin");
    banco.placa.configurar_eeprom(ruta);
    EEPROM.write(3, 0);  // same byte as the erased copy: no change
    EEPROM.commit();
    EXPECT_EQ(banco.placa.eeprom_commits(), 0u);
    EEPROM.write(3, 77);
    EEPROM.commit();
    EXPECT_EQ(banco.placa.eeprom_commits(), 1u);
    EEPROM.commit();
    EXPECT_EQ(banco.placa.eeprom_commits(), 1u);
    banco.placa.reinicio_hardware();
    EXPECT_TRUE(EEPROM.isValid());
    EXPECT_EQ(EEPROM.read(3), 77);
    EXPECT_EQ(banco.salida(1), "");  // the port was closed by the reset
}

TEST(PlacaEeprom, IsValidEscribeSuTraza)
{
    BancoPruebas banco;
    banco.placa.configurar_eeprom(fichero_temporal("olas_eeprom_traza.bin"));
    EXPECT_FALSE(EEPROM.isValid());
    EXPECT_EQ(banco.salida(1), "IsValid.  Inizializada: 0\r\n");
}

TEST(PlacaEeprom, UnCorteAMitadDeCommitDejaLaImagenAnterior)
{
    std::string ruta = fichero_temporal("olas_eeprom_corte.bin");
    for (size_t corte : {0, 1, 7, 100, 263, 267, 271}) {
        std::remove(ruta.c_str());
        BancoPruebas banco;
        banco.placa.configurar_eeprom(ruta);
        EEPROM.write(0, 11);
        EEPROM.commit();
        EEPROM.write(0, 22);
        EEPROM.commit();
        EEPROM.write(0, 33);
        banco.placa.eeprom_cortar_en_commit(corte);
        EXPECT_THROW(EEPROM.commit(), placa::ReinicioPlaca);
        banco.placa.reinicio_hardware();
        EXPECT_TRUE(banco.placa.eeprom_is_valid()) << corte;
        EXPECT_EQ(EEPROM.read(0), 22) << corte;
        // And the next commit still works.
        EEPROM.write(0, 44);
        EEPROM.commit();
        banco.placa.reinicio_hardware();
        EXPECT_EQ(EEPROM.read(0), 44) << corte;
    }
}

TEST(PlacaNvm, FilaDeUsuarioSoloBajaBits)
{
    BancoPruebas banco;
    nvm_escribir_addr(0x402000);
    nvm_escribir_ctrla(0xA505);
    nvm_escribir_ctrla(0xA544);
    nvm_escribir_fila_usuario(0, 0x12345678);
    nvm_escribir_ctrla(0xA506);
    EXPECT_EQ(nvm_leer_fila_usuario(0), 0x12345678u);
    nvm_escribir_ctrla(0xA544);
    nvm_escribir_fila_usuario(0, 0xFFFFFFFF);
    nvm_escribir_ctrla(0xA506);  // without an erase nothing goes back to 1
    EXPECT_EQ(nvm_leer_fila_usuario(0), 0x12345678u);
    nvm_escribir_ctrla(0xA505);
    EXPECT_EQ(nvm_leer_fila_usuario(0), 0xFFFFFFFFu);
}

TEST(PlacaTexto, PrintComoElRuntime)
{
    BancoPruebas banco;
    Serial1.print(-42);
    Serial1.print(' ');
    Serial1.print((uint8_t)200);
    Serial1.print(' ');
    Serial1.print(3.14159, 3);
    Serial1.print(' ');
    Serial1.print(-0.5, 0);
    Serial1.print(' ');
    Serial1.print(2.5);
    Serial1.print(' ');
    Serial1.print(255u, HEX);
    Serial1.print(' ');
    Serial1.println(String("x") + "y");
    EXPECT_EQ(banco.salida(1), "-42 200 3.142 -1 2.50 FF xy\r\n");
}

}  // namespace

extern "C" {
void *__wrap_malloc(size_t n);
void *__wrap_realloc(void *p, size_t n);
void __wrap_free(void *p);
}

namespace {

TEST(PlacaMonticulo, CuentaLosBloquesYLosSueltaAlReiniciar)
{
    BancoPruebas banco;
    placa::monticulo_liberar_todo();
    void *a = __wrap_malloc(100);
    void *b = __wrap_malloc(300);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(placa::monticulo().bytes_en_uso, 400u);
    a = __wrap_realloc(a, 1000);
    EXPECT_EQ(placa::monticulo().bytes_en_uso, 1300u);
    // Beyond what the target's RAM could hold: refused, the old block intact.
    EXPECT_EQ(__wrap_realloc(a, placa::LIMITE_MONTICULO), nullptr);
    EXPECT_EQ(placa::monticulo().bytes_en_uso, 1300u);
    __wrap_free(b);
    EXPECT_EQ(placa::monticulo().bytes_en_uso, 1000u);
    EXPECT_GE(placa::monticulo().pico_bytes, 1300u);
    banco.placa.reinicio_hardware();  // the RAM is wiped: nothing is held any more
    EXPECT_EQ(placa::monticulo().bytes_en_uso, 0u);
    EXPECT_EQ(placa::monticulo().bloques_en_uso, 0u);
}

}  // namespace
