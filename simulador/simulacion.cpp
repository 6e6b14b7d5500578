#include "simulacion.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "../plataforma/host/monticulo_host.h"
#include "tiempo_texto.h"

std::vector<Extension *> &extensiones()
{
    static std::vector<Extension *> lista;
    return lista;
}

namespace {
const char *NOMBRES_PUERTOS[placa::NUM_PUERTOS] = {"Serial", "Serial1", "Serial2", "Serial3"};
constexpr uint32_t PIN_JUMPER = 28;
}  // namespace

Simulacion::Simulacion(Opciones opciones) : opciones_(std::move(opciones))
{
    if (opciones_.eeprom.empty()) opciones_.eeprom = opciones_.salida + "/eeprom.bin";
    if (opciones_.firmware.empty()) opciones_.firmware = CargadorFirmware::ruta_por_defecto();
    std::filesystem::create_directories(opciones_.salida);
    placa::instalar(&placa_);
    placa_.configurar_xtal_ppm(opciones_.xtal_ppm);
    placa_.configurar_eeprom(opciones_.eeprom);
    placa_.configurar_fin(placa_.ciclo_de_segundos_reales(opciones_.duracion_s));
    firmware_ = std::make_unique<CargadorFirmware>(opciones_.firmware);
    telemetria_ = std::make_unique<Registrador>(placa_, 0, ruta_salida("telemetry.txt"), 38400);
    consola_ = std::make_unique<Registrador>(placa_, 1, ruta_salida("debug.txt"), 115200);
    if (opciones_.eco_consola)
        consola_->al_recibir([](uint8_t b, uint64_t) {
            // The console speaks ISO 8859-1; a terminal reads UTF-8.
            if (b == '\r') return;
            if (b < 0x80) {
                std::fputc(b, stdout);
            } else {
                std::fputc(0xC0 | (b >> 6), stdout);
                std::fputc(0x80 | (b & 0x3F), stdout);
            }
        });
    // The heap the firmware holds as each averaging interval starts, read as
    // it prints the line that ends the interval's set-up (a wave stored just
    // after would be counted if read when the line reaches the console): with
    // no leak it comes back to the same level every time.
    placa_.observar_escrituras([this](int puerto, uint8_t b) {
        if (puerto != 1) return;
        static const char marca[] = "_Fin Inicializar promedio_";
        coincidencia_ = (b == (uint8_t)marca[coincidencia_]) ? coincidencia_ + 1 : (b == (uint8_t)marca[0] ? 1 : 0);
        if (marca[coincidencia_] == '\0') {
            monticulo_inicio_intervalo_.push_back(placa::monticulo().bytes_en_uso);
            coincidencia_ = 0;
        }
    });
    auto jumpers = opciones_.jumpers;
    placa_.configurar_nivel_externo([this, jumpers](uint32_t pin, uint64_t ciclo) {
        if (pin != PIN_JUMPER) return -1;
        double t = placa_.segundos_reales(ciclo);
        for (const auto &j : jumpers)
            if (t >= j.first && t < j.second) return 0;  // fitted: pin 28 to ground
        return -1;
    });
    // The bar would mix with the echoed console on a terminal.
    terminal_ = opciones_.progreso && !opciones_.eco_consola && isatty(2);
}

void Simulacion::mostrar_progreso(bool final)
{
    if (!terminal_) return;
    int pct = (int)std::floor(100.0 * segundos() / opciones_.duracion_s);
    if (pct > 100) pct = 100;
    if (pct == progreso_mostrado_ && !final) return;
    progreso_mostrado_ = pct;
    int llenos = pct / 4;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %.0f s", llenos, "#########################", 25 - llenos, "", pct,
                 segundos());
    if (final) std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

// Only with --realtime: an operator on the pseudo-terminal then talks to the
// buoy at the pace of a real one.
void Simulacion::acompasar()
{
    using reloj = std::chrono::steady_clock;
    if (!inicio_real_) inicio_real_ = std::make_unique<reloj::time_point>(reloj::now());
    double real = std::chrono::duration<double>(reloj::now() - *inicio_real_).count();
    double adelanto = segundos() - real;
    if (adelanto > 0.002) std::this_thread::sleep_for(std::chrono::duration<double>(adelanto));
}

nlohmann::json Simulacion::ejecutar()
{
    for (double t : opciones_.cortes) placa_.programar_corte(placa_.ciclo_de_segundos_reales(t));
    for (const auto &c : opciones_.cortes_eeprom)
        placa_.programar(placa_.ciclo_de_segundos_reales(c.first), [this, c] { placa_.eeprom_cortar_en_commit(c.second); });
    for (Extension *e : extensiones()) e->preparar(*this);
    bool fin = false;
    while (!fin) {
        firmware_->cargar();
        placa_.reinicio_hardware();
        placa_.registrar_isr(firmware_->tcc0_handler);
        arranques_++;
        for (Extension *e : extensiones()) e->arranque(*this, arranques_);
        try {
            placa_.base_pila(__builtin_frame_address(0));
            firmware_->setup();
            for (uint64_t pasada = 0;; pasada++) {
                firmware_->loop();
                if ((pasada & 1023) == 0) mostrar_progreso(false);
                if (opciones_.tiempo_real) acompasar();
            }
        } catch (const placa::FinSimulacion &) {
            fin = true;
        } catch (const placa::ReinicioPlaca &r) {
            placa_.anotar_reinicio(r);
        }
        placa_.registrar_isr(nullptr);
        for (Extension *e : extensiones()) e->antes_de_descargar(*this);
        firmware_->descargar();
    }
    mostrar_progreso(true);
    placa::monticulo_liberar_todo();
    for (Extension *e : extensiones()) e->terminar(*this);
    telemetria_->vaciar();
    consola_->vaciar();

    nlohmann::json j;
    j["virtual_seconds"] = segundos();
    j["utc_start"] = texto_de_utc(opciones_.utc_inicial);
    j["xtal_ppm"] = opciones_.xtal_ppm;
    j["boots"] = arranques_;
    nlohmann::json reinicios = nlohmann::json::array();
    for (const placa::Reinicio &r : placa_.reinicios())
        reinicios.push_back({{"time_s", placa_.segundos_reales(r.ciclo)}, {"cause", r.causa}});
    j["watchdog_resets"] = reinicios;
    nlohmann::json descartados, recibidos, enviados;
    for (int p = 0; p < placa::NUM_PUERTOS; p++) {
        descartados[NOMBRES_PUERTOS[p]] = placa_.estadisticas(p).bytes_descartados;
        recibidos[NOMBRES_PUERTOS[p]] = placa_.estadisticas(p).bytes_recibidos;
        enviados[NOMBRES_PUERTOS[p]] = placa_.estadisticas(p).bytes_enviados;
    }
    j["uart_dropped_bytes"] = descartados;
    j["uart_received_bytes"] = recibidos;
    j["uart_sent_bytes"] = enviados;
    j["ticks"] = placa_.ticks();
    j["lost_ticks"] = placa_.ticks_perdidos();
    j["tick_period_counts"] = placa_.tcc0_periodo_actual();
    j["eeprom_commits"] = placa_.eeprom_commits();
    j["nvm_user_row_writes"] = placa_.nvm_escrituras_fila();
    j["heap_peak_bytes"] = placa::monticulo().pico_bytes;
    j["heap_refused_requests"] = placa::monticulo().fallos;
    j["heap_at_interval_start"] = monticulo_inicio_intervalo_;
    j["stack_peak_bytes_host"] = placa_.pila_maxima();
    for (Extension *e : extensiones()) e->resumen(*this, j);

    std::ofstream f(ruta_salida("summary.json"));
    f << j.dump(2) << "\n";
    return j;
}
