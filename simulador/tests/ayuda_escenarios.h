// Runs of olas-sim for the scenario tests: in a subprocess, as a user runs it,
// or in this process when the test needs to reach into the firmware.
#ifndef SIMULADOR_TESTS_AYUDA_ESCENARIOS_H
#define SIMULADOR_TESTS_AYUDA_ESCENARIOS_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A fresh, empty folder for one test's output.
std::string carpeta_de_prueba(const std::string &nombre);
// Runs build/olas-sim with these arguments; returns its exit status. Its
// standard output and error go to <salida>.stdout / .stderr when given.
int ejecutar_olas_sim(const std::string &argumentos, const std::string &salida = "");
std::string leer_fichero(const std::string &ruta);
nlohmann::json leer_resumen(const std::string &carpeta);
size_t contar(const std::string &texto, const std::string &buscado);

#endif
