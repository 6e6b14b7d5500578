#include "cargador_firmware.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <stdexcept>

void CargadorFirmware::cargar()
{
    descargar();
    if (dlopen(ruta_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) != nullptr)
        throw std::runtime_error("the firmware library is still loaded; its globals would not start afresh");
    manejador_ = dlopen(ruta_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!manejador_) throw std::runtime_error(std::string("cannot load the firmware: ") + dlerror());
    setup = reinterpret_cast<void (*)()>(dlsym(manejador_, "setup"));
    loop = reinterpret_cast<void (*)()>(dlsym(manejador_, "loop"));
    tcc0_handler = reinterpret_cast<void (*)()>(dlsym(manejador_, "TCC0_Handler"));
    if (!setup || !loop || !tcc0_handler) {
        descargar();
        throw std::runtime_error("the firmware library lacks setup, loop or TCC0_Handler");
    }
}

void CargadorFirmware::descargar()
{
    if (!manejador_) return;
    dlclose(manejador_);
    manejador_ = nullptr;
    setup = loop = tcc0_handler = nullptr;
}

void *CargadorFirmware::simbolo(const char *nombre) const
{
    return manejador_ ? dlsym(manejador_, nombre) : nullptr;
}

std::string CargadorFirmware::ruta_por_defecto()
{
    char ruta[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", ruta, sizeof ruta - 1);
    if (n <= 0) return "libolas_firmware.so";
    ruta[n] = '\0';
    std::string s(ruta);
    size_t barra = s.rfind('/');
    return (barra == std::string::npos ? std::string(".") : s.substr(0, barra)) + "/libolas_firmware.so";
}
