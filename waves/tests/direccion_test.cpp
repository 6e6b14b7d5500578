// Wave direction: the angle transform, both methods and the drift correction.
#include <gtest/gtest.h>

#include <math.h>

#include <string>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "waves/tests/olas_ayuda.h"
#include "waves/waves.h"

namespace {

class Direccion : public ::testing::Test {
protected:
    void SetUp() override
    {
        reiniciar_analisis();
        banco.borrar_salidas();
        nOlas = 1;
    }
    // Crest and trough velocities whose change is (dn, de).
    uint16_t por_velocidad(float dn, float de)
    {
        vMax2_4 = 0.25f;
        vMax2_5 = -0.5f;
        vMin_4 = 0.25f + dn;
        vMin_5 = -0.5f + de;
        return Calculo_Direccion_Metodo_Velocidad();
    }
    BancoPruebas banco;
};

TEST_F(Direccion, TransformacionDeAngulos)
{
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 0;
    EXPECT_EQ(Tranformar_Angulo(90.0f), 0);
    EXPECT_EQ(Tranformar_Angulo(0.0f), 900);
    EXPECT_EQ(Tranformar_Angulo(-90.0f), 1800);
    EXPECT_EQ(Tranformar_Angulo(180.0f), 2700);
    EXPECT_EQ(Tranformar_Angulo(-0.05f), 900);
    EXPECT_EQ(Tranformar_Angulo(135.5f), 3145);
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
    EXPECT_EQ(Tranformar_Angulo(-170.0f), 800);
    EXPECT_EQ(Tranformar_Angulo(90.0f), 1800);
    // Not a number has no direction.
    EXPECT_EQ(Tranformar_Angulo(NAN), 9999);
}

TEST_F(Direccion, MetodoVelocidadEnLosCuatroCuadrantesConAmbosFactores)
{
    struct {
        float dn, de;
        uint16_t f0, f1;
    } casos[] = {{1, 0, 0, 1800},    {0, 1, 900, 2700},  {-1, 0, 1800, 0},   {0, -1, 2700, 900},
                 {1, 1, 450, 2250},  {-1, 1, 1350, 3150}, {-1, -1, 2250, 450}, {1, -1, 3150, 1350},
                 {0, 0, 900, 2700}};
    for (const auto &c : casos) {
        CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 0;
        EXPECT_EQ(por_velocidad(c.dn, c.de), c.f0) << c.dn << "," << c.de;
        CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
        EXPECT_EQ(por_velocidad(c.dn, c.de), c.f1) << c.dn << "," << c.de;
    }
}

TEST_F(Direccion, MetodoVelocidadSumaYGuarda)
{
    mVisualizar_InfoExtra = 1;
    EXPECT_EQ(por_velocidad(-1, -1), 2250);
    nOlas = 2;
    EXPECT_EQ(por_velocidad(1, 0), 0);
    EXPECT_FLOAT_EQ(mVel_SumNorte, 0.0f);
    EXPECT_FLOAT_EQ(mVel_SumEste, -1.0f);
    EXPECT_EQ(mVectorDirMetVel[0], 2250);
    EXPECT_EQ(mVectorDirMetVel[1], 0);
    EXPECT_EQ(iElementosVectorDirMetVel, 3u);
    EXPECT_NE(banco.salida(1).find("\r\nmVectorDirMetVel  pos(1) = 0 => 0\r\n"), std::string::npos);
    // A change that is not a number leaves the sums alone.
    nOlas = 3;
    vMin_4 = NAN;
    EXPECT_EQ(Calculo_Direccion_Metodo_Velocidad(), 9999);
    EXPECT_FLOAT_EQ(mVel_SumEste, -1.0f);
}

// Previous crest at index 10 with velocities (0, 0).
void puntos_deriva()
{
    vMax1_0 = 10;
    vMax1_4 = vMax1_5 = 0.0f;
    vMax2_0 = 20;
    vMin_0 = 40;
}

TEST_F(Direccion, DerivaConReferenciaEnLaCrestaPrevia)
{
    // Both extremes at the previous crest itself: the norm is 0, the
    // inclination 0, and the corrected values are plain differences.
    puntos_deriva();
    vIntMaxVn_0 = vIntMinVn_0 = 10;
    vIntMaxVn_4 = vIntMinVn_4 = 0.0f;
    vMax2_4 = -0.3f;
    vMin_4 = 0.7f;
    float t1, t2;
    Calculos_Deriva_Vn(&t1, &t2);
    EXPECT_FLOAT_EQ(t1, -0.3f);
    EXPECT_FLOAT_EQ(t2, 0.7f);
}

TEST_F(Direccion, DerivaConReferenciaEnLaVertical)
{
    // The reference straight above the previous crest: inclination +pi/2, so
    // the turned ordinate is minus the abscissa.
    puntos_deriva();
    vMin_4 = 1.0f;
    vIntMaxVn_0 = 10;
    vIntMaxVn_4 = 0.5f;
    vMax2_4 = 0.0f;
    float t1, t2;
    Calculos_Deriva_Vn(&t1, &t2);
    EXPECT_NEAR(t1, -10.0f, 1e-5);
    EXPECT_NEAR(t2, -30.0f, 1e-5);
}

TEST_F(Direccion, DerivaQuitaLaTendenciaLineal)
{
    // A steady north drift of 0.01 m/s per sample from the previous crest,
    // with the reference on that line: the correction removes it and leaves
    // the true change of 1 m/s (scaled by the turn) pointing north.
    puntos_deriva();
    vMin_4 = 0.3f + 1.0f;
    vMax1_4 = 0.0f;
    vIntMaxVn_0 = 30;
    vIntMaxVn_4 = 0.2f;
    vMax2_4 = 0.1f;
    vIntMaxVe_0 = 30;
    float t1, t2;
    Calculos_Deriva_Vn(&t1, &t2);
    double alfa = -atan(0.2 / 20.0);
    EXPECT_NEAR(t1, 10 * sin(alfa) + 0.1 * cos(alfa), 1e-5);
    EXPECT_NEAR(t2 - t1, 20 * sin(alfa) + 1.2 * cos(alfa), 1e-5);
    CTE_METODO_DIRECCION_DEFINITIVA = 1;
    EXPECT_EQ(Calculo_Direccion_Metodo_Deriva(), 0);
    EXPECT_NE(banco.salida(1).find("(Vn,Ve)=1.00,0.00\r\nmVectorDirMetDer  pos(0) = 0 => 0\r\n"), std::string::npos)
        << banco.salida(1);
    EXPECT_EQ(iElementosVectorDirMetDer, 2u);
}

}  // namespace
