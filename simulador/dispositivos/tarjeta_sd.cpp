#include "tarjeta_sd.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "../tiempo_texto.h"

namespace {
ExtensionTarjetaSd g_tarjeta_sd;
RegistroExtension registro(&g_tarjeta_sd);
}  // namespace

namespace {
uint32_t leer16(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
uint32_t leer32(const uint8_t *p) { return leer16(p) | (leer16(p + 2) << 16); }

bool leer_bloque(std::ifstream &f, uint64_t bloque, uint8_t *b)
{
    f.clear();
    f.seekg((std::streamoff)(bloque * 512));
    f.read(reinterpret_cast<char *>(b), 512);
    return f.gcount() == 512;
}

// A FAT boot sector at block inicio of an image of `bloques` blocks.
std::string revisar_volumen(std::ifstream &f, uint64_t inicio, uint64_t bloques)
{
    uint8_t b[512];
    if (!leer_bloque(f, inicio, b)) return "its volume's first block, " + std::to_string(inicio) + ", is past its end";
    uint32_t por_cluster = b[13];
    bool firma = b[510] == 0x55 && b[511] == 0xAA;
    if (!firma || leer16(b + 11) != 512 || por_cluster == 0 || (por_cluster & (por_cluster - 1)) != 0 ||
        leer16(b + 14) == 0 || b[16] == 0 || b[16] > 2)
        return "no FAT file system at block " + std::to_string(inicio);
    uint64_t total = leer16(b + 19) ? leer16(b + 19) : leer32(b + 32);
    if (total == 0) return "its FAT volume gives no size";
    if (inicio + total > bloques)
        return "truncated: its volume runs to block " + std::to_string(inicio + total) + ", the image holds " +
               std::to_string(bloques) + " blocks";
    return "";
}

// The partition table and the volume of an image of `bloques` whole blocks.
std::string aviso_imagen_tarjeta_bloques(std::ifstream &f, uint64_t bloques)
{
    uint8_t b[512];
    if (!leer_bloque(f, 0, b)) return "not even one block of 512 bytes";
    bool salto = b[0] == 0xEB || b[0] == 0xE9;
    if (salto && leer16(b + 11) == 512) return revisar_volumen(f, 0, bloques);  // a volume without partitions
    if (b[510] != 0x55 || b[511] != 0xAA) return "no partition table and no FAT file system";
    const uint8_t *entrada = b + 446;
    uint64_t inicio = leer32(entrada + 8), cuenta = leer32(entrada + 12);
    if (entrada[4] == 0 || cuenta == 0) return "its first partition is empty";
    if (inicio + cuenta > bloques)
        return "truncated: its first partition runs to block " + std::to_string(inicio + cuenta) +
               ", the image holds " + std::to_string(bloques) + " blocks";
    return revisar_volumen(f, inicio, bloques);
}
}  // namespace

std::string aviso_imagen_tarjeta(const std::string &ruta)
{
    std::error_code e;
    uint64_t bytes = std::filesystem::file_size(ruta, e);
    if (e) return "cannot read its size";
    uint64_t bloques = bytes / 512;
    std::ifstream f(ruta, std::ios::binary);
    uint8_t b[512];
    if (!f || !leer_bloque(f, 0, b)) return "not even one block of 512 bytes";
    if (bytes % 512 != 0) {
        std::string resto = aviso_imagen_tarjeta_bloques(f, bloques);
        return "truncated: it ends " + std::to_string(bytes % 512) + " bytes into block " + std::to_string(bloques) +
               (resto.empty() ? std::string() : "; " + resto);
    }
    return aviso_imagen_tarjeta_bloques(f, bloques);
}

void ExtensionTarjetaSd::opciones(CLI::App &app)
{
    app.add_option("--card", ruta_, "SD card image, kept between runs; a new formatted card when missing (default OUT/card.img)");
    app.add_option("--card-size", megabytes_, "size in MB of a new card image (default 4096: FAT32; 2048 or less: FAT16)");
    app.add_flag("--no-card", sin_tarjeta_, "run with the card slot empty");
    app.add_option("--card-out", retiradas_,
                   "card pulled out at T1 and put back at T2, T1-T2 or T1 for good (repeatable)");
    app.add_option("--card-write-error-from", error_desde_, "every write to this block or above fails (worn card)");
    app.add_option("--card-power-cut", texto_corte_,
                   "the power goes during the first card block write at or after this virtual time");
    app.add_option("--card-power-cut-bytes", corte_bytes_, "bytes of that block that reach the card (default 256)");
}

void ExtensionTarjetaSd::validar(const Opciones &opciones)
{
    (void)opciones;
    if (megabytes_ < 8 || megabytes_ > 2u * 1024 * 1024 - 1)
        throw CLI::ValidationError("--card-size", "from 8 MB to 2 TB");
    intervalos_retirada_.clear();
    for (const std::string &r : retiradas_) {
        size_t guion = r.find('-');
        auto t1 = segundos_de_texto(r.substr(0, guion));
        std::optional<double> t2 = std::numeric_limits<double>::infinity();
        if (guion != std::string::npos) t2 = segundos_de_texto(r.substr(guion + 1));
        if (!t1 || !t2 || *t2 <= *t1) throw CLI::ValidationError("--card-out", "expected T1-T2 or T1: " + r);
        intervalos_retirada_.push_back({*t1, *t2});
    }
    corte_s_ = -1;
    if (!texto_corte_.empty()) {
        auto t = segundos_de_texto(texto_corte_);
        if (!t) throw CLI::ValidationError("--card-power-cut", "expected a virtual time: " + texto_corte_);
        corte_s_ = *t;
    }
    if (corte_bytes_ > 512) throw CLI::ValidationError("--card-power-cut-bytes", "0 to 512");
}

void ExtensionTarjetaSd::preparar(Simulacion &sim)
{
    placa::Placa &p = sim.placa();
    tarjeta_ = std::make_unique<placa::TarjetaHost>(&p);
    placa::instalar_tarjeta(nullptr);
    if (sin_tarjeta_) return;
    std::string ruta = ruta_.empty() ? sim.ruta_salida("card.img") : ruta_;
    if (!std::filesystem::exists(ruta)) {
        if (!tarjeta_->crear_formateada(ruta, megabytes_)) throw std::runtime_error("cannot make the card image " + ruta);
        creada_ = true;
    } else {
        // The buoy meets the card as it is; the operator hears of it first.
        std::string aviso = aviso_imagen_tarjeta(ruta);
        if (!aviso.empty())
            std::fprintf(stderr, "olas-sim: warning: the card image %s is damaged: %s\n", ruta.c_str(), aviso.c_str());
        if (!tarjeta_->abrir(ruta))
            throw std::runtime_error("cannot open the card image " + ruta + " (it must hold at least one 512-byte block)");
    }
    placa::instalar_tarjeta(tarjeta_.get());
    if (error_desde_ >= 0) tarjeta_->error_escritura_desde((uint32_t)std::min<int64_t>(error_desde_, UINT32_MAX));
    placa::TarjetaHost *t = tarjeta_.get();
    for (const auto &r : intervalos_retirada_) {
        p.programar(sim.ciclo_de(r.first), [t] { t->retirar(); });
        if (r.second != std::numeric_limits<double>::infinity()) p.programar(sim.ciclo_de(r.second), [t] { t->insertar(); });
    }
    if (corte_s_ >= 0) {
        uint32_t bytes = corte_bytes_;
        p.programar(sim.ciclo_de(corte_s_), [t, bytes] { t->corte_en_escritura(1, bytes); });
    }
}

void ExtensionTarjetaSd::terminar(Simulacion &sim)
{
    (void)sim;
    placa::instalar_tarjeta(nullptr);
}

void ExtensionTarjetaSd::resumen(Simulacion &sim, nlohmann::json &j)
{
    (void)sim;
    nlohmann::json c;
    bool hay = tarjeta_ && tarjeta_->abierta();
    c["present"] = hay && tarjeta_->presente();
    c["created"] = creada_;
    c["blocks"] = hay ? tarjeta_->bloques() : 0;
    const placa::EstadisticasTarjeta e = tarjeta_ ? tarjeta_->estadisticas() : placa::EstadisticasTarjeta{};
    c["blocks_read"] = e.bloques_leidos;
    c["blocks_written"] = e.bloques_escritos;
    c["blocks_erased"] = e.bloques_borrados;
    c["failed_reads"] = e.lecturas_fallidas;
    c["failed_writes"] = e.escrituras_fallidas;
    j["sd_card"] = c;
}
