// Wave direction: the compass bearing of the change of the buoy's horizontal
// velocity from crest to trough, measured directly (velocity method) or after
// removing the drift seen since the previous crest (drift method).
#include <math.h>

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "analisis.h"
#include "muestras.h"
#include "vectores_olas.h"

float mVel_SumNorte = 0.0f, mVel_SumEste = 0.0f;
float mDer_SumNorte = 0.0f, mDer_SumEste = 0.0f;

// A mathematical angle in degrees (counter-clockwise from east) becomes a
// compass direction in tenths of a degree, turned by the configured number of
// half turns. An angle that is not a number has no direction.
uint16_t Tranformar_Angulo(float Angulo)
{
    float a = 90.0f - Angulo;
    a += (float)CTE_FACTOR_CORRECCION_DIRECCION_STANDAR * 180.0f;
    if (!isfinite(a)) return DIRECCION_NO_CALCULADA;
    int32_t w = (int32_t)a;
    float decimal = a - (float)w;
    w = w % 360;
    float r = (float)w + decimal;
    if (r < 0) r += 360.0f;
    return (uint16_t)((double)r * 10.0);
}

static uint16_t direccion_de_cambio(float DifN, float DifE)
{
    float AnguloRad = (float)atan2((double)DifN, (double)DifE);
    float AnguloGrad = (float)((double)AnguloRad / 3.14159265359 * 180.0);
    return Tranformar_Angulo(AnguloGrad);
}

uint16_t Calculo_Direccion_Metodo_Velocidad()
{
    float DifN = vMin_4 - vMax2_4;
    float DifE = vMin_5 - vMax2_5;
    uint16_t AnguloAjustado = direccion_de_cambio(DifN, DifE);
    // A change that is not a number would spoil the interval's mean.
    if (!isnan(DifN) && !isnan(DifE)) {
        mVel_SumNorte += DifN;
        mVel_SumEste += DifE;
    }
    if (mVisualizar_InfoExtra == 1) linea();
    guardar_en_vector_olas(&mVectorDirMetVel, &iElementosVectorDirMetVel, AnguloAjustado, "mVectorDirMetVel  pos(",
                           "Error en realloc de mVectorDirMetVel", mVisualizar_InfoExtra);
    return AnguloAjustado;
}

// The plane has the sample index as abscissa and the velocity as ordinate,
// with the previous crest at the origin. It is turned so that the line to the
// velocity extreme between crest and trough lies flat; the ordinates of crest
// and trough after the turn are the drift-corrected velocities.
static void calculos_deriva(int32_t ind_max1, float v_max1, int32_t ind_max2, float v_max2, int32_t ind_min,
                            float v_min, int32_t ind_ext_min, float v_ext_min, int32_t ind_ext_max, float v_ext_max,
                            float *V_t1, float *V_t2)
{
    int32_t IndCresta;
    float Vcresta;
    if (v_max1 > v_min) {
        IndCresta = ind_ext_min;
        Vcresta = v_ext_min;
    } else {
        IndCresta = ind_ext_max;
        Vcresta = v_ext_max;
    }
    float PtoMax1X = (float)((int64_t)IndCresta - ind_max1);
    float PtoMax1Y = Vcresta - v_max1;
    float norma = (float)sqrt((double)(PtoMax1X * PtoMax1X + PtoMax1Y * PtoMax1Y));
    if (norma != 0) {
        PtoMax1X = PtoMax1X / norma;
        PtoMax1Y = PtoMax1Y / norma;
    }
    float InclinacionRecta;
    if (PtoMax1X != 0) {
        InclinacionRecta = (float)atan((double)(PtoMax1Y / PtoMax1X));
    } else if (PtoMax1Y > 0) {
        InclinacionRecta = 1.5707964f;
    } else if (PtoMax1Y < 0) {
        InclinacionRecta = -1.5707964f;
    } else {
        InclinacionRecta = 0.0f;
    }
    float Alfa = -InclinacionRecta;
    double s = sin((double)Alfa);
    double c = cos((double)Alfa);

    float PtoMax2X = (float)((int64_t)ind_max2 - ind_max1);
    float PtoMax2Y = v_max2 - v_max1;
    *V_t1 = (float)(PtoMax2X * s + PtoMax2Y * c);
    float PtoMinX = (float)((int64_t)ind_min - ind_max1);
    float PtoMinY = v_min - v_max1;
    *V_t2 = (float)(PtoMinX * s + PtoMinY * c);
}

void Calculos_Deriva_Vn(float *V_t1, float *V_t2)
{
    calculos_deriva(vMax1_0, vMax1_4, vMax2_0, vMax2_4, vMin_0, vMin_4, vIntMinVn_0, vIntMinVn_4, vIntMaxVn_0,
                    vIntMaxVn_4, V_t1, V_t2);
}

void Calculos_Deriva_Ve(float *V_t1, float *V_t2)
{
    calculos_deriva(vMax1_0, vMax1_5, vMax2_0, vMax2_5, vMin_0, vMin_5, vIntMinVe_0, vIntMinVe_5, vIntMaxVe_0,
                    vIntMaxVe_5, V_t1, V_t2);
}

uint16_t Calculo_Direccion_Metodo_Deriva()
{
    float Vn_t1, Vn_t2, Ve_t1, Ve_t2;
    Calculos_Deriva_Vn(&Vn_t1, &Vn_t2);
    Calculos_Deriva_Ve(&Ve_t1, &Ve_t2);
    float DifN = Vn_t2 - Vn_t1;
    float DifE = Ve_t2 - Ve_t1;
    uint16_t AnguloAjustado = direccion_de_cambio(DifN, DifE);
    if (!isnan(DifN) && !isnan(DifE)) {
        mDer_SumNorte += DifN;
        mDer_SumEste += DifE;
    }
    Serial1.print("(Vn,Ve)=");
    Serial1.print((double)DifN, 2);
    Serial1.print(",");
    Serial1.println((double)DifE, 2);
    guardar_en_vector_olas(&mVectorDirMetDer, &iElementosVectorDirMetDer, AnguloAjustado, "mVectorDirMetDer  pos(",
                           "Error en realloc de mVectorDirMetDer", 1);
    return AnguloAjustado;
}
