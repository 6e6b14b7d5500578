#include "tarjeta_prueba.h"

#include <cstdlib>
#include <cstring>

#include "gestion_sd/gestion_sd.h"
#include "plataforma/tests/banco_pruebas.h"

TarjetaDePrueba::TarjetaDePrueba(std::initializer_list<const char *> ficheros, uint32_t mb, const std::string &nombre,
                                 placa::Placa *placa)
    : tarjeta_(new placa::TarjetaHost(placa))
{
    imagen_ = imagen_de_prueba(nombre);
    tarjeta_->crear_formateada(imagen_, mb);
    placa::instalar_tarjeta(tarjeta_.get());
    ffichero_raw = File();
    ffichero_wav = File();
    ffichero_res = File();
    miSD.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12));
    for (const char *f : ficheros) crear_fichero(f);
}

TarjetaDePrueba::~TarjetaDePrueba()
{
    ffichero_raw = File();
    ffichero_wav = File();
    ffichero_res = File();
    miSD = SdFat();
    placa::instalar_tarjeta(nullptr);
    tarjeta_.reset();
    std::remove(imagen_.c_str());
}

bool TarjetaDePrueba::crear_fichero(const char *ruta)
{
    std::string r = ruta;
    size_t barra = r.find_last_of('/');
    if (barra != std::string::npos && barra > 0) miSD.mkdir(r.substr(0, barra).c_str(), true);
    File f;
    if (!f.open(&miSD, ruta, O_WRONLY | O_CREAT | O_APPEND)) return false;
    return f.close();
}
