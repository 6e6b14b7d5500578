// Decoding of the three logs, the navigation-log choice, the sample window
// and the "#PTO," stream.
#include <gtest/gtest.h>

#include <cmath>

#include "gestion_sd/tests/tarjeta_prueba.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "sensor/tests/tramas.h"
#include "waves/decodificacion.h"
#include "waves/muestras.h"

namespace {

class Decodificacion : public ::testing::Test {
protected:
    void SetUp() override
    {
        estado_inicial_muestras();
        banco.borrar_salidas();
    }
    void TearDown() override { estado_inicial_muestras(); }
    // One epoch: ship motion, navigation, Euler, all stamped t.
    void epoca(uint32_t t, float heave_m, float yaw_rad = 0.5f, float vn = 0.1f, float ve = 0.2f)
    {
        escanear(unir({ship_motion(t, heave_m), ekf_nav(t, vn, ve), ekf_euler(t, yaw_rad)}));
    }
    BancoPruebas banco;
};

int16_t heave_de(float metros)
{
    estado_inicial_muestras();
    escanear(ship_motion(10, metros));
    return TernaDatos1;
}

uint16_t yaw_de(float rad)
{
    estado_inicial_muestras();
    escanear(ekf_euler(10, rad));
    return TernaDatos0;
}

TEST_F(Decodificacion, HeaveRedondeadoLejosDeCero)
{
    EXPECT_EQ(heave_de(0.123f), 13);
    EXPECT_EQ(heave_de(-0.123f), -13);
    EXPECT_EQ(heave_de(0.12f), 12);
    EXPECT_EQ(heave_de(0.0f), 0);
    EXPECT_EQ(heave_de(NAN), 0);
    EXPECT_EQ(heave_de(1.0e6f), 32767);  // beyond the 16-bit field: held at its end
    EXPECT_EQ(heave_de(-1.0e6f), -32768);
}

TEST_F(Decodificacion, YawEnGradosDe0a360)
{
    EXPECT_EQ(yaw_de(-0.5f), 331);
    EXPECT_EQ(yaw_de(3.1415f), 180);
    EXPECT_EQ(yaw_de(-0.000001f), 360);
    EXPECT_EQ(yaw_de(0.0f), 0);
    EXPECT_EQ(yaw_de(NAN), 0);
}

TEST_F(Decodificacion, DecodificadoresCompruebanLosLimites)
{
    Bytes t = ship_motion(77, 0.5f);
    int32_t ts = 0;
    float h = 0;
    EXPECT_EQ(ProcesarTramaShipMotion(t.data(), &ts, &h, 55), 0);
    EXPECT_EQ(ts, 77);
    EXPECT_FLOAT_EQ(h, 50.0f);
    EXPECT_EQ(ProcesarTramaShipMotion(t.data(), &ts, &h, 25), 1);  // heave's last byte at 25
    Bytes n = ekf_nav(5, 1, 2);
    float vn, ve;
    EXPECT_EQ(ProcesarTrama_Navegacion_Posicion_Velocidad(n.data(), &ts, &vn, &ve, 77), 1);
    EXPECT_EQ(ProcesarTrama_Navegacion_Posicion_Velocidad(n.data(), &ts, &vn, &ve, 81), 0);
    Bytes e = ekf_euler(5, 1);
    float y;
    EXPECT_EQ(ProcesarTrama_AngulosEuler(e.data(), &ts, &y, 21), 1);
    // A short ship-motion frame still writes its "#PTO," text, with 0.00.
    CTE_USO_APP_TOV03 = 1;
    ProcesarTramaBinaria(t.data(), 20);
    EXPECT_EQ(banco.salida(0), "#PTO,0.00");
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
}

TEST_F(Decodificacion, NavegacionMasCercanaAlHeave)
{
    // Euler, ship motion, navigation: one sample with the navigation's stamp.
    escanear(unir({ekf_euler(1000, 0.5f), ship_motion(1100, 0.3f), ekf_nav(1200, 1.0f, 2.0f)}));
    EXPECT_EQ(TernaDatos_pos1_1, 1200);
    // Two navigation logs before the sample is complete: the closer one wins,
    // and one just as close does not replace it.
    escanear(unir({ship_motion(10000, 0.3f), ekf_nav(13000, 1.0f, 1.0f), ekf_nav(10500, 2.0f, 2.0f),
                   ekf_nav(9500, 3.0f, 3.0f), ekf_nav(11000, 4.0f, 4.0f), ekf_euler(10000, 0.5f)}));
    EXPECT_EQ(TernaDatos_pos2_1, 10500);
    EXPECT_FLOAT_EQ(TernaDatos_pos2_4, 2.0f);
}

TEST_F(Decodificacion, EleccionDeNavegacionAlCruzarElBit31)
{
    // The sensor's counter held as signed turns negative past 2^31; the
    // nearer log must still win.
    uint32_t base = 0x7FFFFF00u;
    escanear(unir({ship_motion(base + 0x200, 0.3f), ekf_nav(base + 0x800, 1.0f, 1.0f),
                   ekf_nav(base + 0x210, 2.0f, 2.0f), ekf_nav(base + 0x900, 3.0f, 3.0f), ekf_euler(base, 0.5f)}));
    EXPECT_EQ((uint32_t)TernaDatos_pos1_1, base + 0x210);
    // Across 2^32 as well.
    escanear(unir({ship_motion(0xFFFFFFF0u, 0.3f), ekf_nav(0x00000010u, 1.0f, 1.0f),
                   ekf_nav(0x7FFFFFF0u, 2.0f, 2.0f), ekf_euler(0xFFFFFFF0u, 0.5f)}));
    EXPECT_EQ(TernaDatos_pos2_1, 0x10);
}

TEST_F(Decodificacion, TiempoCeroImpideLaMuestra)
{
    escanear(unir({ship_motion(0, 0.3f), ekf_nav(5, 1.0f, 1.0f), ekf_euler(5, 0.5f)}));
    EXPECT_EQ(TernaDatos_pos1_0, 0);
    EXPECT_EQ(contPtosOlaActual, 0);
    estado_inicial_muestras();
    escanear(unir({ship_motion(5, 0.3f), ekf_nav(0, 1.0f, 1.0f), ekf_euler(5, 0.5f)}));
    EXPECT_EQ(contPtosOlaActual, 0);
}

TEST_F(Decodificacion, MuestraTodaCeroSeDescartaPeroGastaSuIndice)
{
    epoca(100, 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(contPtosOlaActual, 1);
    EXPECT_EQ(TernaDatos_pos1_0, 0);
    EXPECT_EQ(TernaTiempos1, TIEMPO_NO_RECIBIDO);
    epoca(200, 0.1f);
    EXPECT_EQ(TernaDatos_pos1_0, 2);
}

TEST_F(Decodificacion, VentanaTercerMuestraDaRegistroYTrazaHoraNoValida)
{
    TarjetaDePrueba tarjeta{{"240307/1540.raw"}};
    NOMBRE_FICHERO_RAW = "240307/1540.raw";
    ccreacion_nuevo_fichero[0] = 2;
    epoca(100, 0.1f);
    epoca(200, 0.2f);
    EXPECT_EQ(ibytes_a_escribir_sd[0], 0u);
    EXPECT_EQ(cescritura_sd[0], 0);
    EXPECT_EQ(banco.salida(1), "");
    epoca(300, 0.3f);
    EXPECT_GT(ibytes_a_escribir_sd[0], 0u);
    EXPECT_EQ(cescritura_sd[0], 1);
    EXPECT_EQ(TernaDatos_pos3_0, 3);
    EXPECT_EQ(TIEMPO_INI, 300);
    epoca(400, 0.4f);
    epoca(500, 0.5f);
    EXPECT_EQ(TIEMPO_INI, 300);
    EXPECT_EQ(TIEMPO_FIN, 500);
    EXPECT_EQ(banco.salida(1), "==> NO HAY HORA VALIDA.\r\n");
    EXPECT_EQ(TernaDatos_pos1_0, 3);
    EXPECT_EQ(TernaDatos_pos2_0, 4);
    EXPECT_EQ(TernaDatos_pos2_3, 40);
    EXPECT_EQ(ContNumPtosOla, 3u);
    // With a valid clock both times go back to 0.
    TENGO_HORA_VALIDA = 1;
    epoca(600, 0.5f);
    EXPECT_EQ(TIEMPO_INI, 0);
    EXPECT_EQ(TIEMPO_FIN, 0);
}

TEST_F(Decodificacion, LimiteDeIntervaloRenumeraSinPerderMuestra)
{
    for (uint32_t k = 1; k <= 5; k++) epoca(100 * k, 0.01f * (float)k);
    ASSERT_EQ(TernaDatos_pos3_0, 5);
    contPtosOlaActual = 0;  // a new averaging interval starts
    epoca(600, 0.6f);
    EXPECT_EQ(TernaDatos_pos1_0, 0);
    EXPECT_EQ(TernaDatos_pos2_0, 1);
    EXPECT_EQ(TernaDatos_pos3_0, 2);
    EXPECT_EQ(contPtosOlaActual, 2);
    EXPECT_EQ(TernaDatos_pos1_1, 400);
    uint32_t registros = ContNumPtosOla;
    epoca(700, 0.7f);
    // The next sample shifts in: the slot of index 0 is not taken for empty.
    EXPECT_EQ(TernaDatos_pos1_0, 1);
    EXPECT_EQ(TernaDatos_pos2_0, 2);
    EXPECT_EQ(TernaDatos_pos3_0, 3);
    EXPECT_EQ(TernaDatos_pos1_1, 500);
    EXPECT_EQ(TernaDatos_pos2_1, 600);
    EXPECT_EQ(TernaDatos_pos3_1, 700);
    EXPECT_EQ(ContNumPtosOla, registros + 1);
}

TEST_F(Decodificacion, BitsDeEstadoSoloConInicioDeOla)
{
    uint32_t ambos = 0x20u | 0x08000000u;
    escanear(ekf_nav(10, 1, 1, ambos));
    EXPECT_EQ(mFlagHeading, 0);
    EXPECT_EQ(mFlagHeading_Pto, 0);
    vIniOla_0 = 3;
    escanear(ekf_nav(20, 1, 1, ambos));
    escanear(ekf_nav(30, 1, 1, 0x20u));
    EXPECT_EQ(mFlagHeading, 2);
    EXPECT_EQ(mFlagAlign, 1);
    EXPECT_EQ(mFlagHeading_Pto, 1);
    EXPECT_EQ(mFlagAlign_Pto, 0);
}

TEST_F(Decodificacion, LineaPTOConDosDecimalesDelValorSinRedondear)
{
    CTE_USO_APP_TOV03 = 1;
    escanear(unir({ship_motion(5, -0.12345f), ekf_euler(5, -113.0f * 3.14159265f / 180.0f)}));
    EXPECT_EQ(banco.salida(0), "#PTO,-12.35,247\r\n");
    cdebug_sensor = 1;
    escanear(ship_motion(6, 0.123f));
    EXPECT_EQ(banco.salida(1), "auxHeave=12.30, Round=13\r\n,");
}

}  // namespace
