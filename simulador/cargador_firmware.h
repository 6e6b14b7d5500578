// Loads a fresh copy of the firmware for every boot: a new copy of the shared
// library gets fresh globals and runs its static constructors again, as a
// power cycle does on the board.
#ifndef SIMULADOR_CARGADOR_FIRMWARE_H
#define SIMULADOR_CARGADOR_FIRMWARE_H

#include <string>

// The firmware's globals as the world reads and sets them, on either board.
class SimbolosFirmware {
public:
    virtual ~SimbolosFirmware() = default;
    // Address of a firmware global or function, nullptr when absent.
    virtual void *simbolo(const char *nombre) const = 0;
};

class CargadorFirmware : public SimbolosFirmware {
public:
    explicit CargadorFirmware(std::string ruta) : ruta_(std::move(ruta)) {}
    ~CargadorFirmware() { descargar(); }
    CargadorFirmware(const CargadorFirmware &) = delete;
    CargadorFirmware &operator=(const CargadorFirmware &) = delete;

    // Throws std::runtime_error when the library cannot be loaded, or when a
    // previous copy is still mapped (its globals would not start afresh).
    void cargar();
    void descargar();
    bool cargado() const { return manejador_ != nullptr; }

    void (*setup)() = nullptr;
    void (*loop)() = nullptr;
    void (*tcc0_handler)() = nullptr;
    void *simbolo(const char *nombre) const override;

    // The library next to the running executable.
    static std::string ruta_por_defecto();

private:
    std::string ruta_;
    void *manejador_ = nullptr;
};

#endif
