// The GPS receiver: the NMEA field helpers, the burst parsing with its
// acceptance rule and capture, and the CFG-MSG configuration handshake.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "declaraciones/declaraciones.h"
#include "modulo_gps/modulo_gps.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "waves/correccion_reloj.h"

namespace {

std::string xor_hex(const std::string &cuerpo)
{
    uint8_t x = 0;
    for (char c : cuerpo) x ^= (uint8_t)c;
    char b[4];
    std::snprintf(b, sizeof b, "%02X", x);
    return b;
}

std::string nmea(const std::string &cuerpo) { return "$" + cuerpo + "*" + xor_hex(cuerpo) + "\r\n"; }

// Puts text in the field helpers' view: the buffer and the count they may read.
void ver(const std::string &texto, uint32_t cuenta = UINT32_MAX)
{
    std::memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
    std::memcpy(ctrama_rx_gps, texto.data(), std::min(texto.size(), sizeof ctrama_rx_gps));
    ibytes_trama_nmea = cuenta == UINT32_MAX ? (uint32_t)texto.size() : cuenta;
}

char *trama() { return (char *)ctrama_rx_gps; }

TEST(CamposNmea, DigitosYLetrasHexadecimales)
{
    EXPECT_EQ(desconversion_ascii('0'), 0);
    EXPECT_EQ(desconversion_ascii('9'), 9);
    EXPECT_EQ(desconversion_ascii('A'), 10);
    EXPECT_EQ(desconversion_ascii('F'), 15);
    EXPECT_EQ(desconversion_ascii('a'), 255);
    EXPECT_EQ(desconversion_ascii('G'), 255);
    EXPECT_EQ(desconversion_ascii('.'), 255);
}

TEST(CamposNmea, ConversionSaltaElPuntoYGuardaSieteCifras)
{
    ver("1.52,99.99,123456789");
    EXPECT_EQ(conversion_ascii_decimal(0, 4, trama()), 152u);
    EXPECT_EQ(conversion_ascii_decimal(5, 5, trama()), 9999u);
    // Taken from the last digit: those beyond the seventh are ignored.
    EXPECT_EQ(conversion_ascii_decimal(11, 9, trama()), 3456789u);
}

TEST(CamposNmea, NingunaAyudaLeeMasAllaDeLosBytesRecibidos)
{
    // The buffer holds a whole sentence but only 12 bytes were received.
    std::string s = "$GPGGA,1234,,*00\n999";
    ver(s, 12);
    EXPECT_EQ(conversion_ascii_decimal(7, 8, trama()), 1234u);
    EXPECT_EQ(ibusqueda_dato_gps(trama(), '\n', 1, 0), 12u);
    EXPECT_EQ(ibusqueda_dato_gps(trama(), '\n', 1, 40), 12u);
    EXPECT_EQ(busqueda_campo(3, trama(), 0, 200), 12u);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, 200), 0);
    uint8_t vacio = 9;
    EXPECT_EQ(extraccion_dato_nmea(5, trama(), 0, 200, &vacio), 0u);
    EXPECT_EQ(vacio, 1);
    // The same sentence fully received is found.
    ver(s);
    EXPECT_EQ(ibusqueda_dato_gps(trama(), '\n', 1, 0), 16u);
}

TEST(CamposNmea, BusquedaDeCamposYCamposVacios)
{
    std::string s = "$GPGSA,A,3,,1.52*55\r\n";
    ver(s);
    uint32_t fin = (uint32_t)s.size() - 1;
    EXPECT_EQ(busqueda_campo(0, trama(), 0, fin), 0u);
    EXPECT_EQ(busqueda_campo(1, trama(), 0, fin), 7u);
    EXPECT_EQ(busqueda_campo(4, trama(), 0, fin), 12u);
    // The '*' ends the search: a field beyond it starts after the '*'.
    EXPECT_EQ(busqueda_campo(6, trama(), 0, fin), 17u);
    uint8_t vacio = 9;
    EXPECT_EQ(extraccion_dato_nmea(2, trama(), 0, fin, &vacio), 3u);
    EXPECT_EQ(vacio, 0);
    EXPECT_EQ(extraccion_dato_nmea(3, trama(), 0, fin, &vacio), 0u);
    EXPECT_EQ(vacio, 1);
    EXPECT_EQ(extraccion_dato_nmea(4, trama(), 0, fin, &vacio), 152u);
    EXPECT_EQ(vacio, 0);
    EXPECT_EQ(extraccion_dato_nmea(7, trama(), 0, fin, &vacio), 0u);
    EXPECT_EQ(vacio, 1);
}

TEST(CamposNmea, ChecksumSoloEnMayusculas)
{
    std::string bueno = nmea("GPRMC,,V,,,,,,,,,,N");  // *53
    ver(bueno);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)bueno.size() - 1), 1);
    std::string lista = "$GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99*30\r\n";
    ver(lista);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)lista.size() - 1), 1);
    // A checksum with letters, first as sent, then in lower case.
    std::string con_letra = nmea("GPRMC,8");
    ASSERT_NE(xor_hex("GPRMC,8").find_first_of("ABCDEF"), std::string::npos);
    ver(con_letra);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)con_letra.size() - 1), 1);
    for (size_t i = con_letra.find('*'); i < con_letra.size(); i++)
        con_letra[i] = (char)std::tolower((unsigned char)con_letra[i]);
    ver(con_letra);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)con_letra.size() - 1), 0);
    std::string mal = "$GPRMC,,V,,,,,,,,,,N*54\r\n";
    ver(mal);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)mal.size() - 1), 0);
    std::string sin_asterisco = "$GPRMC,,V,,,,,,,,,,N53\r\n";
    ver(sin_asterisco);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, (uint32_t)sin_asterisco.size() - 1), 0);
    // The '*' as the last byte held: its digits were never received.
    ver(bueno, (uint32_t)bueno.find('*') + 1);
    EXPECT_EQ(comprobacion_checksum_nmea(trama(), 0, 200), 0);
}

// ---------------------------------------------------------------- bursts

const std::string GGA_FIX = nmea("GPGGA,143040.00,4330.37500,N,00836.75000,W,1,08,1.01,3.2,M,50.1,M,,");
const std::string GSA_FIX = nmea("GPGSA,A,3,02,05,13,15,18,20,24,29,,,,,1.85,1.01,1.55");
const std::string RMC_FIX = nmea("GPRMC,143040.00,A,4330.37500,N,00836.75000,W,0.012,,071226,,,A");

class Rafaga : public ::testing::Test {
protected:
    void SetUp() override
    {
        csatelites = 0;
        cpdop = chdop = cvdop = 99;
        chora_gps = cminuto_gps = csegundo_gps = cdia_gps = cmes_gps = cano_gps = 0;
        cgrados_latitud_gps = cminutos_latitud_gps = cgrados_longitud_gps = cminutos_longitud_gps = 0;
        idiez_milesimas_minutos_latitud_gps = idiez_milesimas_minutos_longitud_gps = 0;
        cnorte_sur_gps = ceste_oeste_gps = 0;
        cnorte_sur = 'N';
        ceste_oeste = 'W';
        cdia_utc = cmes_utc = cano_utc = chora_utc = cminuto_utc = csegundo_utc = 0;
        cpeticion_nueva_hora = 1;
        cfecha_capturada = 0;
        cdatos_tx_tov03 = 0;
        CONT_TRAMAS_GPS = 0;
        cRevision_Resets_24h = 0;
        cextraigo_gps = 0;
        CTE_AJUSTE_RELOJ = 1;
        Tiempo_Ajustar_Hora = 1;
        Tiempo_Capturar_Hora_Inicial = 0;
        Tiempo_Revision_Hora_GPS = 0;
        cdia_gps_anterior = chora_gps_anterior = cminuto_gps_anterior = csegundo_gps_anterior = 0;
        std::memset(cbuffer_tov03, 0, TAM_BUFFER_TOV03);
        ibytes_a_escribir_sd[TIPO_TOV03] = 0;
    }
    void procesar(const std::string &r)
    {
        std::memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
        size_t n = std::min(r.size(), sizeof ctrama_rx_gps);
        std::memcpy(ctrama_rx_gps, r.data(), n);
        ibytes_recibidos_trama_gps = (uint32_t)n;
        procesamos_trama_rx_gps();
    }
    std::string registro() const { return std::string(cbuffer_tov03, ibytes_a_escribir_sd[TIPO_TOV03]); }
    BancoPruebas banco;
};

TEST_F(Rafaga, FixAceptadoPoneRelojPosicionYRegistro)
{
    procesar(GGA_FIX + GSA_FIX + RMC_FIX);
    EXPECT_EQ(cdia_utc, 7);
    EXPECT_EQ(cmes_utc, 12);
    EXPECT_EQ(cano_utc, 26);
    EXPECT_EQ(chora_utc, 14);
    EXPECT_EQ(cminuto_utc, 30);
    EXPECT_EQ(csegundo_utc, 40);
    EXPECT_EQ(cgrados_latitud, 43);
    EXPECT_EQ(cminutos_latitud, 30);
    EXPECT_EQ(idiez_milesimas_minutos_latitud, 37500u);
    EXPECT_EQ(cnorte_sur, 'N');
    EXPECT_EQ(cgrados_longitud, 8);
    EXPECT_EQ(idiez_milesimas_minutos_longitud, 75000u);
    EXPECT_EQ(ceste_oeste, 'W');
    EXPECT_EQ(cpeticion_nueva_hora, 0);
    EXPECT_EQ(cfecha_capturada, 1);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(CONT_TRAMAS_GPS, 1);
    EXPECT_EQ(cRevision_Resets_24h, 1);
    // A measurement against sensor time was pending: it starts afresh.
    EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 1);
    std::string cuerpo = "GPS,26,12,07,14,30,40,08,43,30,37500N,008,36,75000W,01,01,01";
    EXPECT_EQ(registro(), "$" + cuerpo + "*" + xor_hex(cuerpo) + "\r\n");
    EXPECT_EQ(cbuffer_tov03[ibytes_a_escribir_sd[TIPO_TOV03]], 0);
    EXPECT_NE(banco.salida(1).find("Fecha capturada:07/12/26 14:30:40\r\n"), std::string::npos);
    EXPECT_EQ(banco.salida(3), "");  // no satellite status asked without the trace
}

TEST_F(Rafaga, RegistroDelEjemplo)
{
    procesar(nmea("GPGGA,123456.00,4321.12345,N,00845.67890,W,1,08,0.95,3.2,M,50.1,M,,") +
             nmea("GPGSA,A,3,02,05,13,15,18,20,24,29,,,,,1.52,0.95,1.20") +
             nmea("GPRMC,123456.00,A,4321.12345,N,00845.67890,W,0.012,,170524,,,A"));
    std::string cuerpo = "GPS,24,05,17,12,34,56,08,43,21,12345N,008,45,67890W,01,00,01";
    EXPECT_EQ(registro(), "$" + cuerpo + "*" + xor_hex(cuerpo) + "\r\n");
}

TEST_F(Rafaga, GgaSinPosicionDaCerosYUnRegistroEntero)
{
    procesar(nmea("GPGGA,123456.00,,,,,1,05,1.01,,,,,,") + GSA_FIX +
             nmea("GPRMC,123456.00,A,,,,,0.012,,170524,,,A"));
    EXPECT_EQ(cgrados_latitud_gps, 0);
    EXPECT_EQ(idiez_milesimas_minutos_latitud_gps, 0u);
    EXPECT_EQ(cnorte_sur_gps, 0);
    EXPECT_EQ(cgrados_longitud_gps, 0);
    EXPECT_EQ(ceste_oeste_gps, 0);
    ASSERT_EQ(cdatos_tx_tov03, 1);
    // The hemispheres keep their last known letters: the record stays whole.
    std::string cuerpo = "GPS,24,05,17,12,34,56,05,00,00,00000N,000,00,00000W,01,01,01";
    EXPECT_EQ(registro(), "$" + cuerpo + "*" + xor_hex(cuerpo) + "\r\n");
    EXPECT_EQ(cnorte_sur, 'N');
    EXPECT_EQ(ceste_oeste, 'W');
}

TEST_F(Rafaga, LoQueImpideLaCaptura)
{
    // Dilutions of 99.99.
    procesar(GGA_FIX + nmea("GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99") + RMC_FIX);
    EXPECT_EQ(cpdop, 99);
    EXPECT_EQ(chdop, 99);
    EXPECT_EQ(cvdop, 99);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    // Status V with 8 satellites.
    procesar(GGA_FIX + GSA_FIX + nmea("GPRMC,143040.00,V,4330.37500,N,00836.75000,W,0.012,,071226,,,N"));
    EXPECT_EQ(cpdop, 1);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    // 00:00:00 00/00/00.
    procesar(GGA_FIX + GSA_FIX + nmea("GPRMC,000000.00,A,4330.37500,N,00836.75000,W,0.012,,000000,,,A"));
    EXPECT_EQ(cdatos_tx_tov03, 0);
    // Three satellites.
    procesar(nmea("GPGGA,143040.00,4330.37500,N,00836.75000,W,1,03,1.01,3.2,M,50.1,M,,") + GSA_FIX + RMC_FIX);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    // A time without date counts as no time at all.
    procesar(GGA_FIX + GSA_FIX + nmea("GPRMC,143040.00,A,4330.37500,N,00836.75000,W,0.012,,,,,A"));
    EXPECT_EQ(chora_gps, 0);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    // The RMC with a lower-case checksum is reported and changes nothing.
    std::string rmc = nmea("GPRMC,143040.00,A,4330.37500,N,00836.75000,W,0.014,,071226,,,A");
    std::string cs = xor_hex(rmc.substr(1, rmc.find('*') - 1));
    ASSERT_NE(cs.find_first_of("ABCDEF"), std::string::npos) << cs;
    for (size_t i = rmc.find('*'); i < rmc.size(); i++) rmc[i] = (char)std::tolower((unsigned char)rmc[i]);
    banco.borrar_salidas();
    procesar(GGA_FIX + GSA_FIX + rmc);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_NE(banco.salida(1).find("Checksum nmea calculado erroneo\r\n"), std::string::npos);
    EXPECT_EQ(cpeticion_nueva_hora, 1);
    EXPECT_EQ(cano_utc, 0);
}

TEST_F(Rafaga, RafagaCortadaEn256Bytes)
{
    // GSV sentences fill the burst so that the RMC is cut by the buffer.
    std::string gsv = nmea("GPGSV,2,1,08,02,45,120,42,05,30,060,40,13,65,300,45,15,20,210,38");
    std::string r = GGA_FIX + GSA_FIX + gsv + RMC_FIX;
    ASSERT_GT(r.size(), 256u);
    ASSERT_LT(r.size() - RMC_FIX.size(), 250u);
    procesar(r);
    EXPECT_EQ(cpdop, 1);  // the GSA before the cut counts
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_NE(banco.salida(1).find("Checksum nmea calculado erroneo\r\n"), std::string::npos);
    // A short count never lets the parser see the rest of the buffer.
    std::string entera = GGA_FIX + GSA_FIX + RMC_FIX;
    std::memcpy(ctrama_rx_gps, entera.data(), entera.size());
    ibytes_recibidos_trama_gps = (uint32_t)(entera.size() - 4);
    procesamos_trama_rx_gps();
    EXPECT_EQ(cdatos_tx_tov03, 0);
}

TEST_F(Rafaga, TalkerCombinadoConVariosGsaYCamposDeNmea410)
{
    procesar(nmea("GNRMC,143040.00,A,4330.37500,N,00836.75000,W,0.012,,071226,,,A,V") +
             nmea("GNGGA,143040.00,4330.37500,N,00836.75000,W,1,12,0.80,3.2,M,50.1,M,,") +
             nmea("GNGSA,A,3,02,05,13,15,18,,,,,,,,1.52,0.80,1.29,1") +
             nmea("GNGSA,A,3,67,68,77,,,,,,,,,,1.52,0.80,1.29,2"));
    EXPECT_EQ(csatelites, 12);
    EXPECT_EQ(cpdop, 1);
    EXPECT_EQ(chdop, 0);
    EXPECT_EQ(cvdop, 1);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(chora_utc, 14);
}

TEST_F(Rafaga, OtrosTalkersSeIgnoran)
{
    procesar(nmea("GLGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99") + GGA_FIX + GSA_FIX + RMC_FIX +
             nmea("GAGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99") + nmea("BDGGA,143041.00,,,,,0,00,99.99,,,,,,"));
    EXPECT_EQ(cpdop, 1);
    EXPECT_EQ(csatelites, 8);
    EXPECT_EQ(cdatos_tx_tov03, 1);
}

TEST_F(Rafaga, ReceptoresConOtrasCifras)
{
    // Four decimals of minutes and one decimal in the dilutions (SiRF).
    procesar(nmea("GPGGA,030719.000,3747.0873,S,17518.8938,E,1,08,1.1,59.9,M,23.7,M,,0000") +
             nmea("GPGSA,A,3,17,28,06,01,30,20,26,13,,,,,1.8,1.1,1.5") +
             nmea("GPRMC,030719.000,A,3747.0873,S,17518.8938,E,0.69,181.39,311214,,,A"));
    EXPECT_EQ(idiez_milesimas_minutos_latitud, 8730u);
    EXPECT_EQ(cnorte_sur, 'S');
    EXPECT_EQ(cgrados_longitud, 175);
    EXPECT_EQ(idiez_milesimas_minutos_longitud, 89380u);
    EXPECT_EQ(ceste_oeste, 'E');
    EXPECT_EQ(cpdop, 1);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    // 99.9 is as bad as 99.99.
    SetUp();
    procesar(GGA_FIX + nmea("GPGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9") + RMC_FIX);
    EXPECT_EQ(chdop, 99);
    EXPECT_EQ(cdatos_tx_tov03, 0);
}

TEST_F(Rafaga, PrimerFixYComparacionSinMedidaPendiente)
{
    Tiempo_Ajustar_Hora = 0;
    procesar(GGA_FIX + GSA_FIX + RMC_FIX);
    EXPECT_EQ(cdia_gps_anterior, 7);
    EXPECT_EQ(chora_gps_anterior, 14);
    EXPECT_EQ(cminuto_gps_anterior, 30);
    EXPECT_EQ(csegundo_gps_anterior, 40);
    EXPECT_NE(banco.salida(1).find("Hora anterior GPS (Recepcion GPS):14:30:40\r\n"), std::string::npos);
    // Four hours later, the internal clock reads 18:30:05 when the next fix comes.
    cdia_utc = 7;
    chora_utc = 18;
    cminuto_utc = 30;
    csegundo_utc = 5;
    cpeticion_nueva_hora = 1;
    cdatos_tx_tov03 = 0;
    procesar(nmea("GPGGA,183040.00,4330.37500,N,00836.75000,W,1,08,1.01,3.2,M,50.1,M,,") + GSA_FIX +
             nmea("GPRMC,183040.00,A,4330.37500,N,00836.75000,W,0.012,,071226,,,A"));
    EXPECT_EQ(chora_comparativa, 18);
    EXPECT_EQ(csegundo_comparativa, 5);
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    EXPECT_EQ(Tiempo_Revision_Hora_GPS, 1);
    EXPECT_EQ(csegundo_utc, 40);
    EXPECT_EQ(CONT_TRAMAS_GPS, 2);
    EXPECT_NE(banco.salida(1).find("Hora comparativa UTC (Recepcion GPS):18:30:5\r\n"), std::string::npos);
}

TEST_F(Rafaga, ConTrazaPideElEstadoDeSatelites)
{
    cextraigo_gps = 1;
    procesar(nmea("GPGGA,143040.00,,,,,0,00,99.99,,,,,,") + "\r\n");
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Rx GPS (44) =>$GPGGA,143040.00,,,,,0,00,99.99,,,,,,*64dada\r\n"), std::string::npos) << consola;
    EXPECT_NE(consola.find("Procesando: $GPGGA,143040.00"), std::string::npos);
    EXPECT_NE(consola.find("Satelites:0\tCalidad:9.9/9.9/9.9\tFecha:00/00/00 00:00:00\tPosicion:00 00.0000 000 "
                           "00.0000\r\n"),
              std::string::npos)
        << consola;
    EXPECT_EQ(banco.salida(3), "$PUBX,03*30\r\n");
}

// ---------------------------------------------------------------- configuration

// A receiver that answers every 11-byte message with the given bytes.
class Respondedor : public placa::DispositivoSerie {
public:
    explicit Respondedor(placa::Placa &p) : placa_(p) {}
    void recibir(uint8_t byte, uint32_t baudios, uint64_t ciclo) override
    {
        (void)baudios;
        recibido.push_back((char)byte);
        if (recibido.size() % 11 == 0 && !respuesta.empty())
            placa_.enviar_a_placa(3, reinterpret_cast<const uint8_t *>(respuesta.data()), respuesta.size(), 9600,
                                  ciclo + 48000 * 3);
    }
    placa::Placa &placa_;
    std::string recibido;
    std::string respuesta;
};

const std::string ACK = std::string("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);
const std::string NAK = std::string("\xB5\x62\x05\x00\x02\x00\x06\x01\x0E\x33", 10);

class Configuracion : public ::testing::Test {
protected:
    void SetUp() override
    {
        cextraigo_gps = 0;
        placa::instalar(&banco.placa);
        banco.placa.conectar(3, &receptor);
        configureTCC0(48000, 1);
    }
    BancoPruebas banco{true};
    Respondedor receptor{banco.placa};
};

TEST_F(Configuracion, AckALaPrimeraCincoMensajesDeLaTabla)
{
    receptor.respuesta = ACK;
    rutina_configuracion_gps();
    banco.placa.vaciar_salidas();
    const unsigned char esperado[5][11] = {
        {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x03, 0x00, 0xFD, 0x15},
        {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x01, 0x00, 0xFB, 0x11},
        {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x04, 0x01, 0xFF, 0x18},
        {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x05, 0x00, 0xFF, 0x19},
        {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x08, 0x00, 0x02, 0x1F},
    };
    ASSERT_EQ(receptor.recibido.size(), 55u);
    for (int m = 0; m < 5; m++)
        EXPECT_EQ(receptor.recibido.substr(11 * m, 11), std::string((const char *)esperado[m], 11)) << m;
    std::string consola = banco.salida(1);
    size_t n = 0;
    for (size_t p = consola.find("Rx ACK\r\n"); p != std::string::npos; p = consola.find("Rx ACK\r\n", p + 1)) n++;
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(cestado_gps, 0);
    EXPECT_EQ(cgps_mudo, 0);
}

TEST_F(Configuracion, UnReceptorQueNoEnviaNadaQuedaMarcadoMudo)
{
    rutina_configuracion_gps();
    banco.placa.vaciar_salidas();
    EXPECT_EQ(receptor.recibido.size(), 5u * 20u * 11u);
    EXPECT_EQ(cgps_mudo, 1);
    // Any answer, even a refusal, is a receiver that is there.
    receptor.recibido.clear();
    receptor.respuesta = NAK;
    rutina_configuracion_gps();
    EXPECT_EQ(cgps_mudo, 0);
}

TEST_F(Configuracion, TextoNmeaAntesDelAckYAckDeOtroMensaje)
{
    // The acknowledgement names another message: it counts all the same.
    receptor.respuesta = "$GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99*30\r\n" +
                         std::string("\xB5\x62\x05\x01\x02\x00\x06\x24\x32\x5B", 10);
    cextraigo_gps = 1;
    envio_comando_a_gps(0xF003, 0);
    banco.placa.vaciar_salidas();
    EXPECT_EQ(receptor.recibido.size(), 11u);
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("GPS TX (0) => 181 98 6 1 3 0 240 3 0 253 21 \r\n"), std::string::npos) << consola;
    EXPECT_NE(consola.find("Rx ACK\r\n"), std::string::npos);
    EXPECT_EQ(consola.find("$GPGSA"), std::string::npos);  // the text was skipped, not held
}

TEST_F(Configuracion, NakYSilencioSeReintentanVeinteVeces)
{
    receptor.respuesta = NAK;
    envio_comando_a_gps(0xF001, 0);
    banco.placa.vaciar_salidas();
    EXPECT_EQ(receptor.recibido.size(), 20u * 11u);
    std::string consola = banco.salida(1);
    size_t n = 0;
    for (size_t p = consola.find("Rx NACK\r\n"); p != std::string::npos; p = consola.find("Rx NACK\r\n", p + 1)) n++;
    EXPECT_EQ(n, 20u);
    receptor.recibido.clear();
    receptor.respuesta.clear();
    envio_comando_a_gps(0xF001, 0);
    banco.placa.vaciar_salidas();
    EXPECT_EQ(receptor.recibido.size(), 20u * 11u);
}

TEST_F(Configuracion, FrameDeTextoDescartaLaEntradaPendiente)
{
    banco.enviar(3, "$GPGGA,basura\r\n");
    banco.placa.avanzar(48000 * 30);
    ASSERT_GT(Serial3.available(), 0);
    envio_frame_a_gps("$PUBX,03*30");
    banco.placa.vaciar_salidas();
    EXPECT_EQ(Serial3.available(), 0);
    EXPECT_EQ(receptor.recibido, "$PUBX,03*30\r\n");
}

}  // namespace
