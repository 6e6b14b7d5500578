#include "tarjeta_sd.h"

#include <filesystem>
#include <limits>

#include "../tiempo_texto.h"

namespace {
ExtensionTarjetaSd g_tarjeta_sd;
RegistroExtension registro(&g_tarjeta_sd);
}  // namespace

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
    } else if (!tarjeta_->abrir(ruta)) {
        throw std::runtime_error("cannot open the card image " + ruta + " (a whole number of 512-byte blocks?)");
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
