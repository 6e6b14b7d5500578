#include "tarjeta.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "../../plataforma/sd/bloques_sd.h"
#include "../../plataforma/sd/formato_nuevo.h"
#include "mundo.h"

namespace mundo {

namespace {
Tarjeta *g_tarjeta = nullptr;
}

void instalar_tarjeta(Tarjeta *tarjeta) { g_tarjeta = tarjeta; }
Tarjeta *tarjeta_actual() { return g_tarjeta; }

Tarjeta::~Tarjeta()
{
    cerrar();
    if (g_tarjeta == this) g_tarjeta = nullptr;
}

void Tarjeta::cerrar()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    bloques_ = 0;
}

bool Tarjeta::abrir(const std::string &ruta)
{
    cerrar();
    int fd = ::open(ruta.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size <= 0 || st.st_size % SD_BYTES_BLOQUE != 0 ||
        st.st_size / SD_BYTES_BLOQUE > UINT32_MAX) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    ruta_ = ruta;
    bloques_ = (uint32_t)(st.st_size / SD_BYTES_BLOQUE);
    return true;
}

bool Tarjeta::crear(const std::string &ruta, uint64_t bytes)
{
    cerrar();
    if (bytes == 0 || bytes % SD_BYTES_BLOQUE != 0) return false;
    int fd = ::open(ruta.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (ftruncate(fd, (off_t)bytes) != 0) {
        ::close(fd);
        return false;
    }
    ::close(fd);
    return abrir(ruta);
}

bool Tarjeta::crear_formateada(const std::string &ruta, uint32_t megabytes)
{
    uint64_t bytes = (uint64_t)megabytes << 20;
    if (bytes / SD_BYTES_BLOQUE > UINT32_MAX) return false;
    if (!crear(ruta, bytes)) return false;
    // As a new card: high capacity (SDHC) above 2 GB.
    bool alta = bytes > (2ULL << 30);
    auto escribir = [](void *ctx, uint32_t bloque, const uint8_t *datos) {
        Tarjeta *t = static_cast<Tarjeta *>(ctx);
        return ::pwrite(t->fd_, datos, SD_BYTES_BLOQUE, (off_t)bloque * SD_BYTES_BLOQUE) == (ssize_t)SD_BYTES_BLOQUE;
    };
    // The serial number of a new card is fixed by its maker: here by its size.
    if (!sd_formatear_tarjeta_nueva(bloques_, alta, 0, 0x5D000000u ^ bloques_, escribir, this)) {
        cerrar();
        ::unlink(ruta.c_str());
        return false;
    }
    return true;
}

void Tarjeta::corte_en_escritura(uint64_t n, uint32_t bytes_escritos)
{
    corte_en_ = n;
    corte_bytes_ = bytes_escritos < SD_BYTES_BLOQUE ? bytes_escritos : SD_BYTES_BLOQUE;
}

void Tarjeta::gastar(uint64_t ciclos)
{
    if (mundo_ && cobrar_tiempo_) mundo_->avanzar(ciclos);
}

bool Tarjeta::leer(uint32_t bloque, uint8_t *datos)
{
    gastar(CICLOS_BLOQUE);
    if (!presente() || bloque >= bloques_ || (bloque >= error_lectura_desde_ && bloque <= error_lectura_hasta_) ||
        ::pread(fd_, datos, SD_BYTES_BLOQUE, (off_t)bloque * SD_BYTES_BLOQUE) != (ssize_t)SD_BYTES_BLOQUE) {
        estadisticas_.lecturas_fallidas++;
        return false;
    }
    estadisticas_.bloques_leidos++;
    return true;
}

bool Tarjeta::escribir(uint32_t bloque, const uint8_t *datos)
{
    gastar(CICLOS_BLOQUE);
    if (!presente() || bloque >= bloques_ || bloque >= error_desde_) {
        estadisticas_.escrituras_fallidas++;
        return false;
    }
    size_t n = SD_BYTES_BLOQUE;
    bool corte = false;
    if (corte_en_ > 0 && --corte_en_ == 0) {
        n = corte_bytes_;
        corte = true;
    }
    if (n > 0 && ::pwrite(fd_, datos, n, (off_t)bloque * SD_BYTES_BLOQUE) != (ssize_t)n) {
        estadisticas_.escrituras_fallidas++;
        return false;
    }
    if (corte) {
        uint64_t ciclo = mundo_ ? mundo_->ciclo() : 0;
        throw ReinicioPlaca{CAUSA_CORTE, ciclo};
    }
    estadisticas_.bloques_escritos++;
    return true;
}

bool Tarjeta::borrar(uint32_t primero, uint32_t ultimo)
{
    gastar(CICLOS_BORRADO);
    if (!presente() || primero > ultimo || ultimo >= bloques_) return false;
    off_t desde = (off_t)primero * SD_BYTES_BLOQUE;
    off_t largo = (off_t)(ultimo - primero + 1) * SD_BYTES_BLOQUE;
    if (fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, desde, largo) != 0) {
        // No holes on this file system: write the zeros.
        static const uint8_t ceros[64 * 1024] = {};
        for (off_t p = desde; p < desde + largo;) {
            size_t n = (size_t)std::min<off_t>((off_t)sizeof ceros, desde + largo - p);
            if (::pwrite(fd_, ceros, n, p) != (ssize_t)n) return false;
            p += (off_t)n;
        }
    }
    estadisticas_.bloques_borrados += ultimo - primero + 1;
    return true;
}

}  // namespace mundo
