// Test helpers of the wave analysis: a clean analysis state, samples shifted
// into the three-sample window as the sensor decoding does it, and
// synthetic heave series.
#ifndef WAVES_TESTS_OLAS_AYUDA_H
#define WAVES_TESTS_OLAS_AYUDA_H

#include <stdint.h>

#include <string>
#include <vector>

struct MuestraPrueba {
    int16_t heave;
    float vn;
    float ve;
};

// Clock cleared (no valid date), default bounds, velocity method with factor
// 0, the first wave not suppressed, every trace switch off, no files, an
// empty window and a fresh interval.
void reiniciar_analisis();
void poner_reloj(int dia, int mes, int ano, int hora, int minuto, int segundo);

// Shifts one sample into the window (time stamps 100 ms apart from
// iSelloSiguiente) and, once the window is full, runs the analysis.
void empujar_muestra(int16_t heave, float vn, float ve);
void empujar_serie(const std::vector<MuestraPrueba> &serie);
extern int32_t iSelloSiguiente;
extern int32_t iPasoSello;

// n whole sine waves of amplitude a (cm) and t samples each, starting at a
// zero up-crossing, with velocities in quadrature: the velocity change from
// crest to trough points towards (dn, de).
std::vector<MuestraPrueba> serie_senoidal(int n, int t, double a, double dn = 1.0, double de = 0.0);

#endif
