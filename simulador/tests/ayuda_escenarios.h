// Runs of olas-sim for the scenario tests: in a subprocess, as a user runs it,
// or in this process when the test needs to reach into the firmware.
#ifndef SIMULADOR_TESTS_AYUDA_ESCENARIOS_H
#define SIMULADOR_TESTS_AYUDA_ESCENARIOS_H

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// A fresh, empty folder for one test's output.
std::string carpeta_de_prueba(const std::string &nombre);
// Runs build/olas-sim with these arguments; returns its exit status. Its
// standard output and error go to <salida>.stdout / .stderr when given.
int ejecutar_olas_sim(const std::string &argumentos, const std::string &salida = "");
std::string leer_fichero(const std::string &ruta);
nlohmann::json leer_resumen(const std::string &carpeta);
size_t contar(const std::string &texto, const std::string &buscado);

// ---- the scenarios that run on both boards
// "host" (the firmware as a library) and "samd21" (the flashable image on the
// emulated chip, built by `make firmware` into build-samd21/).
std::string imagen_samd21();
bool hay_imagen_samd21();
// The options that choose the board: "" for the host board.
std::string opciones_placa(const std::string &placa);
// A scenario's own checks on either board: the stack stayed within its
// reserve and the heap never refused a request.
void comprobar_pila_y_monticulo(const nlohmann::json &resumen);
// The board's name in a parametrised test's name.
struct NombrePlaca {
    std::string operator()(const ::testing::TestParamInfo<std::string> &i) const { return i.param; }
};
#define SALTAR_SIN_IMAGEN(placa)                                                                      \
    if ((placa) == "samd21" && !hay_imagen_samd21())                                                  \
    GTEST_SKIP() << "no ATSAMD21 image at " << imagen_samd21() << " (make firmware builds it)"

#endif
