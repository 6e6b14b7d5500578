// A corrupted card: any bytes over the first blocks of a freshly formatted
// card (partition table, boot sector, FATs, root directory). Mounting it,
// listing it, reading and writing files on it must fail cleanly or work,
// never crash or loop for ever.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "plataforma/host/placa_host.h"
#include "plataforma/host/tarjeta_host.h"
#include "plataforma/sd/SdFat.h"

namespace {
constexpr uint32_t BLOQUES_METADATOS = 512;

struct Banco {
    placa::Placa p;
    placa::TarjetaHost tarjeta;
    std::vector<uint8_t> original;
    Banco() : tarjeta(&p)
    {
        placa::instalar(&p);
        for (int i = 0; i < placa::NUM_PUERTOS; i++) p.uart_begin(i, 115200);
        std::string ruta = "/tmp/olas_tarjeta_fuzz_" + std::to_string(getpid()) + ".img";
        tarjeta.crear_formateada(ruta, 16);
        unlink(ruta.c_str());  // the open file stays usable
        placa::instalar_tarjeta(&tarjeta);
        // Some files, so the corruption has directories and chains to meet.
        SdFat sd;
        if (sd.begin(SD_CHIP_SELECT_PIN, SPI_FULL_SPEED)) {
            sd.mkdir("/_sd", true);
            sd.mkdir("/261207", true);
            File f = sd.open("/_sd/escritura_sd.txt", O_RDWR | O_CREAT | O_AT_END);
            f.print("Escritura de prueba");
            f.close();
            File r = sd.open("/261207/1430.res", O_WRONLY | O_CREAT | O_APPEND);
            for (int i = 0; i < 200; i++) r.print("07,12,26,14,30,00012 0153 072 00036 2715 087 100\r\n");
            r.close();
        }
        original.resize(BLOQUES_METADATOS * 512);
        for (uint32_t b = 0; b < BLOQUES_METADATOS; b++) tarjeta.leer(b, original.data() + b * 512);
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t n)
{
    static Banco *banco = new Banco();
    if (n < 2) return 0;
    // The image as it was, then the input over it from the block it names.
    for (uint32_t b = 0; b < BLOQUES_METADATOS; b++) banco->tarjeta.escribir(b, banco->original.data() + b * 512);
    uint32_t inicio = ((uint32_t)datos[0] << 8 | datos[1]) % BLOQUES_METADATOS;
    datos += 2;
    n -= 2;
    std::vector<uint8_t> bloque(512);
    for (size_t hecho = 0; hecho < n && inicio < BLOQUES_METADATOS; inicio++) {
        banco->tarjeta.leer(inicio, bloque.data());
        size_t trozo = n - hecho < 512 ? n - hecho : 512;
        std::memcpy(bloque.data(), datos + hecho, trozo);
        banco->tarjeta.escribir(inicio, bloque.data());
        hecho += trozo;
    }

    SdFat sd;
    if (!sd.begin(SD_CHIP_SELECT_PIN, SPI_FULL_SPEED)) return 0;
    File raiz = sd.open("/", O_RDONLY);
    File entrada;
    char nombre[13];
    for (int i = 0; i < 300 && entrada.openNext(&raiz, O_RDONLY); i++) {
        entrada.getName(nombre, sizeof nombre);
        entrada.close();
    }
    raiz.close();
    sd.exists("/_sd/escritura_sd.txt");
    File f = sd.open("/261207/1430.res", O_RDONLY);
    uint8_t buf[256];
    for (int i = 0; i < 64 && f.read(buf, sizeof buf) > 0; i++) {
    }
    f.close();
    sd.freeClusterCount();
    sd.mkdir("/261208", true);
    File w = sd.open("/261208/0000.raw", O_WRONLY | O_CREAT | O_APPEND);
    for (int i = 0; i < 20; i++) w.write(buf, sizeof buf);
    w.close();
    sd.remove("/_sd/escritura_sd.txt");
    return 0;
}
