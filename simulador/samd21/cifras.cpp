// The chip's figures: the symbols of the image, the heap and the stack, the
// instruction profile by function and module, and the summary.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chip.h"

namespace samd21 {

void *Chip::simbolo(const char *nombre)
{
    auto it = imagen_.simbolos.find(nombre);
    if (it == imagen_.simbolos.end()) return nullptr;
    uint32_t d = it->second;
    if (d >= RAM_BASE && d < RAM_BASE + RAM_BYTES) return ram_ + (d - RAM_BASE);
    if (d < FLASH_BYTES) return flash_.data() + d;
    return nullptr;
}

uint64_t Chip::monticulo_en_uso() const
{
    if (!dir_ruptura_ || dir_ruptura_ < RAM_BASE || dir_ruptura_ + 4 > RAM_BASE + RAM_BYTES) return 0;
    uint32_t ruptura;
    std::memcpy(&ruptura, ram_ + (dir_ruptura_ - RAM_BASE), 4);
    if (ruptura < monticulo_base_ || ruptura > RAM_BASE + RAM_BYTES) return 0;
    return ruptura - monticulo_base_;
}

uint32_t Chip::monticulo_rechazos()
{
    if (!dir_rechazos_ || dir_rechazos_ < RAM_BASE || dir_rechazos_ + 4 > RAM_BASE + RAM_BYTES) return 0;
    uint32_t v;
    std::memcpy(&v, ram_ + (dir_rechazos_ - RAM_BASE), 4);
    return v;
}

uint32_t Chip::pila_mas_baja()
{
    if (!pintada_) return sp_mas_bajo_;
    uint32_t desde = std::max<uint32_t>(monticulo_base_ + (uint32_t)monticulo_pico_, RAM_BASE);
    desde = (desde + 3) & ~3u;
    uint32_t a = desde;
    while (a + 4 <= pila_tope_) {
        uint32_t v;
        std::memcpy(&v, ram_ + (a - RAM_BASE), 4);
        if (v != PINTURA) break;
        a += 4;
    }
    return std::min(a, sp_mas_bajo_);
}

void Chip::escribir_registro_mmio(const std::string &ruta) const
{
    FILE *f = std::fopen(ruta.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + ruta);
    for (const auto &e : registro_mmio_)
        std::fprintf(f, "0x%08X %u %c %llu\n", std::get<0>(e.first), std::get<1>(e.first), std::get<2>(e.first),
                     (unsigned long long)e.second);
    std::fclose(f);
}

nlohmann::json Chip::perfil(uint64_t epocas)
{
    std::map<std::string, uint64_t> por_funcion;
    uint64_t total = 0, fuera = 0;
    for (uint32_t i = 0; i < perfil_.size(); i++) {
        uint64_t n = perfil_[i] - perfil_base_[i];
        if (!n) continue;
        total += n;
        const FuncionElf *f = imagen_.funcion_en(i * 2);
        if (f) por_funcion[f->nombre] += n;
        else fuera += n;
    }
    perfil_base_ = perfil_;
    std::vector<std::pair<uint64_t, std::string>> orden;
    for (const auto &e : por_funcion) orden.push_back({e.second, e.first});
    std::sort(orden.rbegin(), orden.rend());
    nlohmann::json j;
    double div = epocas ? (double)epocas : 1.0;
    j["epochs"] = epocas;
    j["instructions"] = total;
    j["instructions_per_epoch"] = epocas ? std::llround((double)total / div) : 0;
    nlohmann::json funciones = nlohmann::json::object();
    for (size_t i = 0; i < orden.size() && i < 40; i++) funciones[orden[i].second] = std::llround((double)orden[i].first / div);
    j["by_function"] = funciones;
    std::map<std::string, uint64_t> por_modulo;
    for (const auto &e : por_funcion) {
        auto it = modulo_de_funcion_.find(e.first);
        por_modulo[it == modulo_de_funcion_.end() ? "other" : it->second] += e.second;
    }
    if (fuera) por_modulo["other"] += fuera;
    nlohmann::json modulos = nlohmann::json::object();
    for (const auto &e : por_modulo) modulos[e.first] = std::llround((double)e.second / div);
    j["by_module"] = modulos;
    return j;
}

nlohmann::json Chip::resumen()
{
    nlohmann::json j;
    uint64_t total = mundo_.ciclo();
    uint32_t baja = pila_mas_baja();
    if (baja < sp_mas_bajo_) sp_mas_bajo_ = baja;
    j["clock"] = "virtual time is the instruction count at 48 MHz: one instruction, one cycle";
    j["instructions"] = instrucciones_;
    j["cycles"] = total;
    j["sleep_cycles"] = ciclos_dormido_;
    j["cpu_busy_fraction"] = total ? (double)(total - ciclos_dormido_) / (double)total : 0.0;
    j["exceptions_taken"] = excepciones_tomadas_;
    j["core_runs"] = tramos_;
    j["resets"] = reinicios_.resumen();
    j["bootloader"] = modo_bootloader_ == ModoBootloader::ninguno ? "none" : "double-tap";
    j["bootloader_stays"] = reinicios_.quedadas();
    uint32_t fila[2];
    std::memcpy(fila, nvmctrl_.fila_usuario().data(), sizeof fila);
    j["user_row"] = {palabra_hex(fila[0]), palabra_hex(fila[1])};
    j["watchdog"] = {{"longest_gap_between_feeds_s", (double)wdt_.hueco_mayor() / hz_ciclos()}};
    nlohmann::json pila;
    pila["top"] = pila_tope_;
    pila["limit"] = pila_reserva_;
    pila["reserve_bytes"] = pila_tope_ - pila_reserva_;
    pila["lowest_sp"] = sp_mas_bajo_;
    pila["deepest_bytes"] = pila_tope_ > sp_mas_bajo_ ? pila_tope_ - sp_mas_bajo_ : 0;
    pila["within_reserve"] = sp_mas_bajo_ >= pila_reserva_;
    j["stack"] = pila;
    nlohmann::json heap;
    heap["base"] = monticulo_base_;
    heap["peak_bytes"] = monticulo_pico_;
    heap["limit_bytes"] = pila_reserva_ > monticulo_base_ ? pila_reserva_ - monticulo_base_ : 0;
    heap["refused_requests"] = monticulo_rechazos();
    j["heap"] = heap;
    j["syncbusy_violations"] = violaciones_sincronizacion_;
    j["enable_protected_writes_ignored"] = escrituras_protegidas_;
    j["warnings"] = avisos_;
    nlohmann::json tx;
    for (int n = 0; n < Sercom::CANTIDAD; n++) tx["SERCOM" + std::to_string(n)] = sercom_[n].perdidos_tx();
    j["uart_tx_bytes_lost"] = tx;
    j["nvm"] = {{"eeprom_row_erases", nvmctrl_.borrados_eeprom()}, {"eeprom_page_writes", nvmctrl_.paginas_escritas()},
                {"user_row_writes", nvmctrl_.escrituras_fila_usuario()}};
    j["sd_commands"] = tarjeta_.comandos();
    return j;
}

}  // namespace samd21
