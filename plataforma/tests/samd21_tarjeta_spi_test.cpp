// The target's SD card driver (SPI mode) against a simulated card that
// answers byte by byte as a card does: standard capacity cards of both
// generations (byte addresses) and high capacity cards (block addresses),
// and cards that are missing, never finish starting, refuse data or hang.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "plataforma/samd21/tarjeta_spi.h"

using samd21::TarjetaSpi;

namespace {

enum class Modelo { SDSC_V1, SDSC_V2, SDHC };

class TarjetaFalsa : public samd21::BusSpi {
public:
    TarjetaFalsa(Modelo m, uint32_t bloques) : modelo(m), bloques(bloques) {}

    Modelo modelo;
    uint32_t bloques;
    std::map<uint32_t, std::vector<uint8_t>> datos;
    // Faults.
    bool ausente = false;
    bool nunca_lista = false;       // ACMD41 answers "idle" for ever
    bool rechaza_datos = false;     // data response "write error"
    bool siempre_ocupada = false;   // after a write
    bool error_estado = false;      // CMD13 reports an error
    bool sin_eco_cmd8 = false;      // the interface condition comes back wrong (voltage not accepted)
    // What was seen.
    long bytes = 0;
    long ocupadas = 0;   // answers "busy" given
    long pausas = 0;
    bool lenta = false;
    std::vector<uint8_t> ordenes;
    int crc_malos = 0;

    uint8_t intercambiar(uint8_t entrada) override
    {
        bytes++;
        if (!seleccionada_ || ausente) return 0xFF;
        uint8_t salida = 0xFF;
        if (!salida_.empty()) {
            salida = salida_.front();
            salida_.pop_front();
        } else if (ocupada_ > 0) {
            salida = 0x00;
            ocupadas++;
            if (!siempre_ocupada) ocupada_--;
        } else if (leyendo_varios_) {
            poner_bloque(proximo_++);
        }
        recibir(entrada);
        return salida;
    }
    void seleccionar(bool activa) override { seleccionada_ = activa; }
    void velocidad_inicio(bool l) override { lenta = l; }
    void pausa() override { pausas++; }
    // 1 ms for every 100 bytes on the bus.
    uint32_t milisegundos() override { return (uint32_t)(bytes / 100); }
    // The longest run of bus bytes inside a wait without a call (the board
    // feeds its watchdog there).
    void esperando() override
    {
        if (bytes - ultimo_aviso > hueco_mayor) hueco_mayor = bytes - ultimo_aviso;
        ultimo_aviso = bytes;
        avisos++;
    }
    long ultimo_aviso = 0, hueco_mayor = 0, avisos = 0;

    std::vector<uint8_t> bloque(uint32_t n)
    {
        auto it = datos.find(n);
        return it == datos.end() ? std::vector<uint8_t>(512, 0) : it->second;
    }

private:
    enum class Estado { ORDEN, TOKEN, DATOS };
    bool seleccionada_ = false;
    std::deque<uint8_t> salida_;
    std::vector<uint8_t> orden_, recibido_;
    Estado estado_ = Estado::ORDEN;
    bool inactiva_ = true, app_ = false, varios_ = false, leyendo_varios_ = false;
    int ocupada_ = 0;
    int vueltas_ = 0;
    uint32_t proximo_ = 0, borrar_desde_ = 0, borrar_hasta_ = 0;

    void responder(std::initializer_list<uint8_t> r)
    {
        salida_.push_back(0xFF);   // one byte of command response time
        for (uint8_t b : r) salida_.push_back(b);
    }
    void poner_bloque(uint32_t n)
    {
        salida_.push_back(0xFF);
        salida_.push_back(0xFE);
        std::vector<uint8_t> b = bloque(n);
        salida_.insert(salida_.end(), b.begin(), b.end());
        salida_.push_back(0x12);
        salida_.push_back(0x34);
    }
    // The block an address names, or -1 (address error).
    long bloque_de(uint32_t arg)
    {
        uint32_t n = arg;
        if (modelo != Modelo::SDHC) {
            if (arg % 512) return -1;
            n = arg / 512;
        }
        return n < bloques ? (long)n : -1;
    }
    std::vector<uint8_t> csd()
    {
        std::vector<uint8_t> c(16, 0);
        if (modelo == Modelo::SDHC) {
            uint32_t c_size = bloques / 1024 - 1;
            c[0] = 0x40;
            c[7] = (uint8_t)((c_size >> 16) & 0x3F);
            c[8] = (uint8_t)(c_size >> 8);
            c[9] = (uint8_t)c_size;
        } else {
            // READ_BL_LEN 10 (1024-byte blocks), C_SIZE_MULT 7: (C_SIZE + 1) * 512 * 2 blocks of 512.
            uint32_t c_size = bloques / 1024 - 1;
            c[5] = 0x0A;
            c[6] = (uint8_t)((c_size >> 10) & 3);
            c[7] = (uint8_t)(c_size >> 2);
            c[8] = (uint8_t)((c_size & 3) << 6);
            c[9] = 0x03;
            c[10] = 0x80;
        }
        return c;
    }
    void recibir(uint8_t b)
    {
        if (estado_ == Estado::TOKEN) {
            if (b == 0xFE || b == 0xFC) {
                estado_ = Estado::DATOS;
                recibido_.clear();
            } else if (b == 0xFD && varios_) {
                estado_ = Estado::ORDEN;
                varios_ = false;
                salida_.push_back(0xFF);
                ocupada_ = 5;
            }
            return;
        }
        if (estado_ == Estado::DATOS) {
            recibido_.push_back(b);
            if (recibido_.size() < 514) return;
            recibido_.resize(512);
            if (rechaza_datos) {
                salida_.push_back(0x0D);
            } else {
                datos[proximo_++] = recibido_;
                salida_.push_back(0x05);
            }
            ocupada_ = 20;
            estado_ = varios_ ? Estado::TOKEN : Estado::ORDEN;
            return;
        }
        if (orden_.empty() && (b & 0xC0) != 0x40) return;
        orden_.push_back(b);
        if (orden_.size() < 6) return;
        std::vector<uint8_t> o = orden_;
        orden_.clear();
        if ((o[5] >> 1) != samd21::crc7_sd(o.data(), 5) || !(o[5] & 1)) {
            crc_malos++;
            responder({0x08});
            return;
        }
        ejecutar(o[0] & 0x3F, ((uint32_t)o[1] << 24) | ((uint32_t)o[2] << 16) | ((uint32_t)o[3] << 8) | o[4]);
    }
    void ejecutar(uint8_t cmd, uint32_t arg)
    {
        bool app = app_;
        app_ = false;
        ordenes.push_back(cmd);
        uint8_t r1 = inactiva_ ? 0x01 : 0x00;
        if (cmd == 12) {
            leyendo_varios_ = false;
            salida_.clear();
            salida_.push_back(0x5A);   // the stuff byte: whatever was on the line
            responder({0x00});
            ocupada_ = 3;
            return;
        }
        if (inactiva_ && cmd != 0 && cmd != 8 && cmd != 55 && cmd != 58 && !(app && cmd == 41)) {
            responder({0x05});
            return;
        }
        switch (cmd) {
        case 0: inactiva_ = true; responder({0x01}); break;
        case 8:
            if (modelo == Modelo::SDSC_V1) responder({0x05});
            else if (sin_eco_cmd8) responder({r1, 0x00, 0x00, 0x00, 0xAA});
            else responder({r1, 0x00, 0x00, (uint8_t)((arg >> 8) & 0x0F), (uint8_t)arg});
            break;
        case 55: app_ = true; responder({r1}); break;
        case 41: {
            bool hcs = (arg & 0x40000000u) != 0;
            if (modelo == Modelo::SDHC && !hcs) { responder({0x01}); break; }   // an SDHC card needs HCS
            // Ready at the third request.
            if (!nunca_lista && ++vueltas_ >= 3) inactiva_ = false;
            responder({(uint8_t)(inactiva_ ? 0x01 : 0x00)});
            break;
        }
        case 58:
            responder({r1, (uint8_t)(inactiva_ ? 0x00 : (modelo == Modelo::SDHC ? 0xC0 : 0x80)), 0xFF, 0x80, 0x00});
            break;
        case 16: responder({(uint8_t)(arg == 512 ? 0x00 : 0x40)}); break;
        case 9: {
            responder({0x00});
            salida_.push_back(0xFF);
            salida_.push_back(0xFE);
            std::vector<uint8_t> c = csd();
            salida_.insert(salida_.end(), c.begin(), c.end());
            salida_.push_back(0);
            salida_.push_back(0);
            break;
        }
        case 13: responder({0x00, (uint8_t)(error_estado ? 0x08 : 0x00)}); break;
        case 17:
        case 18: {
            long n = bloque_de(arg);
            if (n < 0) { responder({0x20}); break; }
            responder({0x00});
            salida_.push_back(0xFF);
            poner_bloque((uint32_t)n);
            if (cmd == 18) {
                leyendo_varios_ = true;
                proximo_ = (uint32_t)n + 1;
            }
            break;
        }
        case 24:
        case 25: {
            long n = bloque_de(arg);
            if (n < 0) { responder({0x20}); break; }
            responder({0x00});
            proximo_ = (uint32_t)n;
            varios_ = cmd == 25;
            estado_ = Estado::TOKEN;
            break;
        }
        case 32:
        case 33: {
            long n = bloque_de(arg);
            if (n < 0) { responder({0x20}); break; }
            (cmd == 32 ? borrar_desde_ : borrar_hasta_) = (uint32_t)n;
            responder({0x00});
            break;
        }
        case 38:
            for (uint32_t b = borrar_desde_; b <= borrar_hasta_; b++) datos.erase(b);
            responder({0x00});
            ocupada_ = 50;
            break;
        default: responder({(uint8_t)(r1 | 0x04)}); break;
        }
    }
};

std::vector<uint8_t> patron(uint32_t semilla)
{
    std::vector<uint8_t> v(512);
    for (size_t i = 0; i < v.size(); i++) v[i] = (uint8_t)(semilla * 31 + i * 7 + (i >> 8));
    return v;
}

TEST(Samd21TarjetaSpi, Crc7DeLasOrdenesDeArranque)
{
    uint8_t cmd0[5] = {0x40, 0, 0, 0, 0};
    uint8_t cmd8[5] = {0x48, 0, 0, 0x01, 0xAA};
    EXPECT_EQ((samd21::crc7_sd(cmd0, 5) << 1) | 1, 0x95);
    EXPECT_EQ((samd21::crc7_sd(cmd8, 5) << 1) | 1, 0x87);
}

// Each kind of card starts, reports its type and size, and keeps what is
// written where it was written (the first block, one in the middle, the
// last), one block at a time and several at once.
TEST(Samd21TarjetaSpi, CadaTipoDeTarjetaArrancaYGuardaCadaBloqueEnSuSitio)
{
    struct Caso { Modelo m; uint32_t bloques; TarjetaSpi::Tipo tipo; };
    for (Caso caso : {Caso{Modelo::SDSC_V1, 2048 * 1024, TarjetaSpi::SD1},
                      Caso{Modelo::SDSC_V2, 4096 * 1024, TarjetaSpi::SD2},
                      Caso{Modelo::SDHC, 16 * 1024 * 1024, TarjetaSpi::SDHC}}) {
        SCOPED_TRACE((int)caso.m);
        TarjetaFalsa t(caso.m, caso.bloques);
        TarjetaSpi sd(t);
        ASSERT_TRUE(sd.iniciar()) << (int)sd.error();
        EXPECT_EQ(sd.tipo(), caso.tipo);
        EXPECT_EQ(sd.bloques(), caso.bloques);
        EXPECT_FALSE(t.lenta);
        EXPECT_EQ(t.crc_malos, 0);

        for (uint32_t b : {0u, 12345u, caso.bloques - 1}) {
            ASSERT_TRUE(sd.escribir(b, patron(b).data()));
            EXPECT_EQ(t.bloque(b), patron(b));
        }
        for (uint32_t b : {0u, 12345u, caso.bloques - 1}) {
            std::vector<uint8_t> leido(512);
            ASSERT_TRUE(sd.leer(b, leido.data()));
            EXPECT_EQ(leido, patron(b));
        }
        // Several blocks in one command, written and read back.
        ASSERT_TRUE(sd.escribir_inicio(500, 3));
        for (uint32_t i = 0; i < 3; i++) ASSERT_TRUE(sd.escribir_siguiente(patron(900 + i).data()));
        ASSERT_TRUE(sd.escribir_fin());
        std::vector<uint8_t> tres(3 * 512);
        ASSERT_TRUE(sd.leer_varios(499, 3, tres.data()));
        EXPECT_EQ(std::vector<uint8_t>(tres.begin(), tres.begin() + 512), std::vector<uint8_t>(512, 0));
        EXPECT_EQ(std::vector<uint8_t>(tres.begin() + 512, tres.begin() + 1024), patron(900));
        EXPECT_EQ(std::vector<uint8_t>(tres.begin() + 1024, tres.end()), patron(901));
        // Beyond the card: refused without a command.
        size_t ordenes = t.ordenes.size();
        EXPECT_FALSE(sd.leer(caso.bloques, tres.data()));
        EXPECT_FALSE(sd.escribir(caso.bloques, tres.data()));
        EXPECT_FALSE(sd.escribir_inicio(caso.bloques - 1, 2));
        EXPECT_EQ(t.ordenes.size(), ordenes);
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_RANGO);
        // Erased blocks read back as the card erases them.
        ASSERT_TRUE(sd.borrar(0, 12345));
        EXPECT_EQ(t.bloque(0), std::vector<uint8_t>(512, 0));
        EXPECT_EQ(t.bloque(12345), std::vector<uint8_t>(512, 0));
        EXPECT_EQ(t.bloque(caso.bloques - 1), patron(caso.bloques - 1));
        EXPECT_TRUE(sd.estado());
    }
}

// The busy card is looked at again only after a pause (the core sleeps
// there), once per busy answer; a card that is ready costs no pause.
TEST(Samd21TarjetaSpi, EntreDosMiradasAUnaTarjetaOcupadaUnaPausa)
{
    TarjetaFalsa t(Modelo::SDHC, 1 << 20);
    TarjetaSpi sd(t);
    ASSERT_TRUE(sd.iniciar());
    std::vector<uint8_t> leido(512);
    ASSERT_TRUE(sd.leer(7, leido.data()));
    EXPECT_EQ(t.pausas, 0);
    EXPECT_EQ(t.ocupadas, 0);
    ASSERT_TRUE(sd.escribir(7, patron(7).data()));
    EXPECT_EQ(t.ocupadas, 20);
    EXPECT_EQ(t.pausas, 20);
    ASSERT_TRUE(sd.escribir_inicio(8, 2));
    for (uint32_t i = 0; i < 2; i++) ASSERT_TRUE(sd.escribir_siguiente(patron(8 + i).data()));
    ASSERT_TRUE(sd.escribir_fin());
    EXPECT_EQ(t.ocupadas, 20 + 2 * 20 + 5);
    EXPECT_EQ(t.pausas, t.ocupadas);
    EXPECT_EQ(t.bloque(9), patron(9));
}

// A card that is missing, never finishes starting, refuses data, stays busy
// or was taken out: each fails cleanly within its bounded time.
TEST(Samd21TarjetaSpi, UnaTarjetaQueFallaDevuelveFalsoEnUnTiempoAcotado)
{
    {
        TarjetaFalsa t(Modelo::SDHC, 1 << 20);
        t.ausente = true;
        TarjetaSpi sd(t);
        EXPECT_FALSE(sd.iniciar());
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_CMD0);
        EXPECT_FALSE(sd.iniciada());
        EXPECT_LT(t.milisegundos(), 20u);
        std::vector<uint8_t> b(512);
        EXPECT_FALSE(sd.leer(0, b.data()));
    }
    {
        TarjetaFalsa t(Modelo::SDHC, 1 << 20);
        t.nunca_lista = true;
        TarjetaSpi sd(t);
        EXPECT_FALSE(sd.iniciar());
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_ACMD41);
        EXPECT_GE(t.milisegundos(), TarjetaSpi::MS_INICIALIZACION);
        EXPECT_LT(t.milisegundos(), TarjetaSpi::MS_INICIALIZACION + 50);
    }
    {
        TarjetaFalsa t(Modelo::SDHC, 1 << 20);
        t.sin_eco_cmd8 = true;
        TarjetaSpi sd(t);
        EXPECT_FALSE(sd.iniciar());
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_CMD8);
    }
    {
        TarjetaFalsa t(Modelo::SDSC_V2, 1 << 20);
        TarjetaSpi sd(t);
        ASSERT_TRUE(sd.iniciar());
        t.rechaza_datos = true;
        EXPECT_FALSE(sd.escribir(7, patron(7).data()));
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_ESCRITURA);
        EXPECT_TRUE(sd.escribir_inicio(7, 2));
        EXPECT_FALSE(sd.escribir_siguiente(patron(7).data()));
        t.rechaza_datos = false;
        // The card still answers afterwards.
        EXPECT_TRUE(sd.escribir(8, patron(8).data()));
        t.error_estado = true;
        EXPECT_FALSE(sd.escribir(9, patron(9).data()));
        EXPECT_EQ(sd.error(), TarjetaSpi::ERROR_ESCRITURA);
        t.error_estado = false;
        t.siempre_ocupada = true;
        long antes = t.milisegundos();
        EXPECT_FALSE(sd.escribir(10, patron(10).data()));
        EXPECT_LT(t.milisegundos() - antes, (long)(TarjetaSpi::MS_ESCRITURA + TarjetaSpi::MS_LIBRE + 50));
    }
    {
        TarjetaFalsa t(Modelo::SDHC, 1 << 20);
        TarjetaSpi sd(t);
        ASSERT_TRUE(sd.iniciar());
        t.ausente = true;   // taken out
        std::vector<uint8_t> b(512);
        long antes = t.milisegundos();
        EXPECT_FALSE(sd.leer(3, b.data()));
        EXPECT_FALSE(sd.escribir(3, b.data()));
        EXPECT_FALSE(sd.estado());
        EXPECT_LT(t.milisegundos() - antes, 3 * (long)TarjetaSpi::MS_LIBRE + 50);
    }
}

// Waits that go on for longer than a watchdog period on a fast oscillator
// (a start that never ends, a card busy for good) tell the bus at every
// poll, so the board's watchdog is fed while the card is waited for.
TEST(Samd21TarjetaSpi, LasEsperasLargasAvisanAlBusEnCadaSondeo)
{
    {
        TarjetaFalsa t(Modelo::SDHC, 1 << 20);
        t.nunca_lista = true;
        TarjetaSpi sd(t);
        EXPECT_FALSE(sd.iniciar());
        EXPECT_GE(t.milisegundos(), TarjetaSpi::MS_INICIALIZACION);
        EXPECT_GT(t.avisos, 100);
        EXPECT_LT(t.hueco_mayor, 100) << "at most a millisecond of bus between two calls";
    }
    {
        TarjetaFalsa t(Modelo::SDSC_V2, 1 << 20);
        TarjetaSpi sd(t);
        ASSERT_TRUE(sd.iniciar());
        t.siempre_ocupada = true;
        t.hueco_mayor = 0;
        t.ultimo_aviso = t.bytes;
        long antes = t.milisegundos();
        EXPECT_FALSE(sd.escribir(10, patron(10).data()));
        EXPECT_GE(t.milisegundos() - antes, (long)TarjetaSpi::MS_ESCRITURA);
        // The block itself (515 bytes) goes out between two waits.
        EXPECT_LT(t.hueco_mayor, 600);
    }
}

TEST(Samd21TarjetaSpi, TamanoDesdeElCsd)
{
    // A 2 GB standard card: C_SIZE 4095, C_SIZE_MULT 7, READ_BL_LEN 10.
    uint8_t v1[16] = {0x00, 0, 0, 0, 0, 0x0A, 0x03, 0xFF, 0xC0, 0x03, 0x80, 0, 0, 0, 0, 0};
    EXPECT_EQ(samd21::bloques_de_csd(v1), 4194304u);
    // A 32 GB high capacity card: C_SIZE 61055 (0x00EE7F).
    uint8_t v2[16] = {0x40, 0, 0, 0, 0, 0, 0, 0x00, 0xEE, 0x7F, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(samd21::bloques_de_csd(v2), 62521344u);
    uint8_t raro[16] = {0xC0};
    EXPECT_EQ(samd21::bloques_de_csd(raro), 0u);
}

}  // namespace
