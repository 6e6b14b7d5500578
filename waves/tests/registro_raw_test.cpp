// Layout of the processed-sample record and its write request.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gestion_sd/tests/tarjeta_prueba.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "sensor/tests/tramas.h"
#include "waves/muestras.h"
#include "waves/registro_raw.h"

namespace {

class RegistroRaw : public ::testing::Test {
protected:
    void SetUp() override { estado_inicial_muestras(); }
    void TearDown() override { estado_inicial_muestras(); }
    std::string registro(int16_t heave, float vn, float ve)
    {
        TernaDatos_pos2_2 = 247;
        TernaDatos_pos2_3 = heave;
        TernaDatos_pos2_4 = vn;
        TernaDatos_pos2_5 = ve;
        Guardar_Datos_Procesados_RAW();
        EXPECT_EQ(cbuffer_raw[ibytes_a_escribir_sd[0]], '\0');
        return std::string(cbuffer_raw, ibytes_a_escribir_sd[0]);
    }
    BancoPruebas banco;
};

TEST_F(RegistroRaw, EjemploConHoraValida)
{
    TENGO_HORA_VALIDA = 1;
    cdia_utc = 7;
    cmes_utc = 3;
    cano_utc = 24;
    chora_utc = 15;
    cminuto_utc = 42;
    csegundo_utc = 9;
    ContNumPtosOla = 12;
    mFlagHeading_Pto = mFlagAlign_Pto = 1;
    EXPECT_EQ(registro(-35, 0.1234f, -1.5f), "07,03,24,15,42,09,00012,0247,-00035, 00000.1234,-00001.5000,1,1\r\n");
    EXPECT_EQ(ContNumPtosOla, 13u);
    cdia_utc = cmes_utc = cano_utc = chora_utc = cminuto_utc = csegundo_utc = 0;
}

TEST_F(RegistroRaw, SinHoraValidaYSignosDelHeave)
{
    cdia_utc = 7;
    EXPECT_EQ(registro(0, 0.0f, 0.0f), "00,00,00,00,00,00,00000,0247, 00000, 00000.0000, 00000.0000,0,0\r\n");
    EXPECT_EQ(registro(-1, 0.0f, 0.0f).substr(24, 8), "0247,-00");
    EXPECT_EQ(registro(-1, 0.0f, 0.0f).substr(29, 7), "-00001,");
    cdia_utc = 0;
}

TEST_F(RegistroRaw, MarcadoresDeVelocidadFueraDeRango)
{
    std::string r = registro(5, 123456.0f, -123456.0f);
    EXPECT_NE(r.find(", 99999.9999,-99999.9999,"), std::string::npos) << r;
    r = registro(5, NAN, -NAN);
    EXPECT_NE(r.find(", 99999.9999, 99999.9999,"), std::string::npos) << r;
    r = registro(5, INFINITY, -INFINITY);
    EXPECT_NE(r.find(", 99999.9999,-99999.9999,"), std::string::npos) << r;
    // The float just below 100000 is still written; 100000 is not.
    r = registro(5, 99999.9921875f, -99999.9921875f);
    EXPECT_NE(r.find(", 99999.9922,-99999.9922,"), std::string::npos) << r;
    r = registro(5, 100000.0f, -100000.0f);
    EXPECT_NE(r.find(", 99999.9999,-99999.9999,"), std::string::npos) << r;
}

TEST_F(RegistroRaw, PeticionDeEscrituraSoloConElFicheroAbierto)
{
    TarjetaDePrueba tarjeta{{"240307/1540.raw"}};
    NOMBRE_FICHERO_RAW = "240307/1540.raw";
    for (uint8_t estado : {0, 1, 2, 3}) {
        cescritura_sd[0] = 0;
        ccreacion_nuevo_fichero[0] = estado;
        registro(1, 0.5f, 0.5f);
        EXPECT_EQ(cescritura_sd[0], estado != 0 ? 1 : 0) << (int)estado;
        EXPECT_GT(ibytes_a_escribir_sd[0], 0u);
    }
    // A raw file that is not on the card takes nothing.
    cescritura_sd[0] = 0;
    ccreacion_nuevo_fichero[0] = 2;
    NOMBRE_FICHERO_RAW = "240307/1541.raw";
    registro(1, 0.5f, 0.5f);
    EXPECT_EQ(cescritura_sd[0], 0);
    NOMBRE_FICHERO_RAW = "";
    ccreacion_nuevo_fichero[0] = 0;
}

}  // namespace
