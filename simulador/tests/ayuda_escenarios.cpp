#include "ayuda_escenarios.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string carpeta_de_prueba(const std::string &nombre)
{
    std::filesystem::path p = std::filesystem::path(OLAS_BINARIOS) / "pruebas" / nombre;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p.string();
}

int ejecutar_olas_sim(const std::string &argumentos, const std::string &salida)
{
    std::string orden = std::string(OLAS_SIM) + " --no-progress " + argumentos;
    if (!salida.empty()) orden += " >" + salida + ".stdout 2>" + salida + ".stderr";
    else orden += " >/dev/null 2>&1";
    int r = std::system(orden.c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

std::string leer_fichero(const std::string &ruta)
{
    std::ifstream f(ruta, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

nlohmann::json leer_resumen(const std::string &carpeta)
{
    return nlohmann::json::parse(leer_fichero(carpeta + "/summary.json"));
}

size_t contar(const std::string &texto, const std::string &buscado)
{
    size_t n = 0;
    for (size_t p = 0; (p = texto.find(buscado, p)) != std::string::npos; p += buscado.size()) n++;
    return n;
}

std::string imagen_samd21() { return std::string(OLAS_FUENTES) + "/build-samd21/olas.elf"; }

bool hay_imagen_samd21() { return std::filesystem::exists(imagen_samd21()); }

std::string opciones_placa(const std::string &placa)
{
    if (placa != "samd21") return "";
    return " --board samd21 --firmware " + imagen_samd21() + " ";
}

void comprobar_pila_y_monticulo(const nlohmann::json &j)
{
    EXPECT_EQ(j["heap_refused_requests"], 0) << "the heap refused a request";
    if (j.value("board", "host") != "samd21") return;
    const nlohmann::json &pila = j["samd21"]["stack"];
    EXPECT_TRUE(pila["within_reserve"].get<bool>()) << "stack below its reserve: " << pila.dump();
    EXPECT_GT(pila["deepest_bytes"].get<uint64_t>(), 0u);
    EXPECT_EQ(j["samd21"]["heap"]["refused_requests"], 0);
}
