#include "banco_pruebas.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "plataforma/plataforma.h"

BancoPruebas::BancoPruebas(bool con_isr)
{
    placa::instalar(&placa);
    for (int i = 0; i < placa::NUM_PUERTOS; i++) placa.conectar(i, &puertos[i]);
    placa.uart_begin(0, 38400);
    placa.uart_begin(1, 115200);
    placa.uart_begin(2, 115200);
    placa.uart_begin(3, 9600);
    if (con_isr) placa.registrar_isr(&TCC0_Handler);
}

BancoPruebas::~BancoPruebas()
{
    for (int i = 0; i < placa::NUM_PUERTOS; i++) placa.conectar(i, nullptr);
    placa::instalar(nullptr);
}

std::string BancoPruebas::salida(int puerto)
{
    placa.vaciar_salidas();
    return puertos[puerto].texto;
}

void BancoPruebas::borrar_salidas()
{
    placa.vaciar_salidas();
    for (auto &p : puertos) p.texto.clear();
}

void BancoPruebas::enviar(int puerto, const std::string &bytes)
{
    placa.enviar_a_placa(puerto, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                         placa.uart_baudios(puerto), placa.ciclo());
}

// A path in the folder named after this process, with nothing left there.
static std::string ruta_de_este_proceso(const std::filesystem::path &carpeta, const std::string &nombre)
{
    std::string ruta = (carpeta / (std::to_string(getpid()) + "_" + nombre)).string();
    std::remove(ruta.c_str());
    return ruta;
}

std::string fichero_temporal(const std::string &nombre)
{
    return ruta_de_este_proceso(std::filesystem::temp_directory_path(), nombre);
}

std::string imagen_de_prueba(const std::string &nombre)
{
    std::filesystem::path carpeta = std::filesystem::path(OLAS_BINARIOS) / "pruebas_sd";
    std::filesystem::create_directories(carpeta);
    return ruta_de_este_proceso(carpeta, nombre);
}
