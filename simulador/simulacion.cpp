#include "simulacion.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <map>

#include "../plataforma/host/monticulo_host.h"
#include "tiempo_texto.h"

std::vector<Extension *> &extensiones()
{
    static std::vector<Extension *> lista;
    return lista;
}

std::optional<MundoAnterior> mundo_anterior(const std::string &carpeta)
{
    std::ifstream f(carpeta + "/" + ESTADO_MUNDO);
    if (!f) return std::nullopt;
    nlohmann::json j = nlohmann::json::parse(f, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("utc_end") || !j["utc_end"].is_string()) {
        std::fprintf(stderr, "olas-sim: warning: %s/%s cannot be read; the world starts afresh\n", carpeta.c_str(),
                     ESTADO_MUNDO.c_str());
        return std::nullopt;
    }
    auto t = utc_de_texto(j["utc_end"].get<std::string>());
    if (!t) {
        std::fprintf(stderr, "olas-sim: warning: %s/%s holds no UTC; the world starts afresh\n", carpeta.c_str(),
                     ESTADO_MUNDO.c_str());
        return std::nullopt;
    }
    double vivido = j.contains("world_seconds") && j["world_seconds"].is_number() ? j["world_seconds"].get<double>() : 0;
    if (!(vivido >= 0 && vivido < 1e10)) vivido = 0;
    return MundoAnterior{*t, vivido};
}

namespace {
// The emulated chip's globals, read and set in its RAM.
class SimbolosChip : public SimbolosFirmware {
public:
    explicit SimbolosChip(samd21::Chip &chip) : chip_(chip) {}
    void *simbolo(const char *nombre) const override { return chip_.simbolo(nombre); }

private:
    samd21::Chip &chip_;
};

// Module of each function of the image, from the linker's map beside it: the
// object file each code section came from.
std::map<std::string, std::string> modulos_del_mapa(const std::string &ruta_elf, const samd21::ImagenElf &img)
{
    static const char *MODULOS[] = {"principal", "sensor", "waves", "modulo_gps", "tov03", "virtual_e2prom",
                                    "gestion_sd", "formateo_sd", "comunicaciones_pc", "declaraciones", "plataforma"};
    std::map<std::string, std::string> r;
    std::string ruta_mapa = ruta_elf.substr(0, ruta_elf.rfind('.')) + ".map";
    std::ifstream f(ruta_mapa);
    if (!f) return r;
    struct Seccion { uint32_t inicio, fin; std::string modulo; };
    std::vector<Seccion> secciones;
    std::string linea, pendiente;
    while (std::getline(f, linea)) {
        // " .text.name  0xADDR  0xSIZE object" (the name may stand alone on the line before)
        if (linea.rfind(" .text", 0) == 0 && linea.find("0x") == std::string::npos) { pendiente = linea; continue; }
        std::string l = linea.rfind(" .text", 0) == 0 ? linea : (!pendiente.empty() ? pendiente + linea : "");
        pendiente.clear();
        if (l.empty()) continue;
        char nombre[512], objeto[1024];
        unsigned dir = 0, tam = 0;
        if (std::sscanf(l.c_str(), " %511s 0x%x 0x%x %1023s", nombre, &dir, &tam, objeto) != 4 || tam == 0) continue;
        std::string obj = objeto, modulo = "other";
        for (const char *m : MODULOS)
            if (obj.find(std::string("/") + m + "/") != std::string::npos || obj.rfind(std::string(m) + "/", 0) == 0) {
                modulo = m;
                break;
            }
        if (modulo == "plataforma" && obj.find("/plataforma/sd/") != std::string::npos) modulo = "plataforma/sd";
        if (modulo == "other") {
            if (obj.find("libc") != std::string::npos || obj.find("libgcc") != std::string::npos ||
                obj.find("libstdc++") != std::string::npos || obj.find("libm") != std::string::npos)
                modulo = "libraries";
            else if (obj.find(".dir/") != std::string::npos &&
                     obj.find('/', obj.find(".dir/") + 5) == std::string::npos)
                modulo = "plataforma/samd21";  // the board runtime's own objects
        }
        secciones.push_back({dir, dir + tam, modulo});
    }
    for (const samd21::FuncionElf &fn : img.funciones)
        for (const Seccion &sec : secciones)
            if (fn.inicio >= sec.inicio && fn.inicio < sec.fin) {
                r[fn.nombre] = sec.modulo;
                break;
            }
    return r;
}

std::string elf_por_defecto()
{
    // build-samd21/olas.elf beside the build folder of this executable, or in
    // the current folder.
    std::string exe = CargadorFirmware::ruta_por_defecto();
    std::filesystem::path junto = std::filesystem::path(exe).parent_path().parent_path() / "build-samd21" / "olas.elf";
    if (std::filesystem::exists(junto)) return junto.string();
    return "build-samd21/olas.elf";
}

const char *NOMBRES_PUERTOS[placa::NUM_PUERTOS] = {"Serial", "Serial1", "Serial2", "Serial3"};
constexpr uint32_t PIN_JUMPER = 28;
}  // namespace

Simulacion::Simulacion(Opciones opciones) : opciones_(std::move(opciones))
{
    if (opciones_.eeprom.empty()) opciones_.eeprom = opciones_.salida + "/eeprom.bin";
    bool chip = opciones_.placa == "samd21";
    if (opciones_.firmware.empty()) opciones_.firmware = chip ? elf_por_defecto() : CargadorFirmware::ruta_por_defecto();
    std::filesystem::create_directories(opciones_.salida);
    placa::instalar(&placa_);
    // On the chip the MCU's oscillator is the DFLL48M in open loop.
    double ppm = opciones_.xtal_ppm;
    if (chip) ppm = ((1.0 + ppm * 1e-6) * (1.0 + opciones_.osciladores.dfll48m) - 1.0) * 1e6;
    placa_.configurar_xtal_ppm(ppm);
    placa_.configurar_eeprom(opciones_.eeprom);
    placa_.configurar_fin(placa_.ciclo_de_segundos_reales(opciones_.duracion_s));
    if (chip) {
        // The chip's own UARTs take the bytes off the wires; its flash rows
        // keep the EEPROM in the EEPROM file's place.
        placa_.llegadas_externas(true);
        chip_ = std::make_unique<samd21::Chip>(placa_, opciones_.firmware, opciones_.eeprom);
        chip_->modulos_de_funciones(modulos_del_mapa(opciones_.firmware, chip_->imagen()));
        chip_->registrar_mmio(!opciones_.registro_mmio.empty());
        samd21::ModoBootloader modo = samd21::ModoBootloader::doble_toque;
        if (!samd21::modo_bootloader_de(opciones_.bootloader, modo))
            throw std::runtime_error("no such bootloader: " + opciones_.bootloader);
        chip_->configurar_arranque(modo, opciones_.osciladores);
        simbolos_chip_ = std::make_unique<SimbolosChip>(*chip_);
        simbolos_ = simbolos_chip_.get();
    } else {
        firmware_ = std::make_unique<CargadorFirmware>(opciones_.firmware);
        simbolos_ = firmware_.get();
    }
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
            monticulo_inicio_intervalo_.push_back(monticulo_en_uso());
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
    // Behind the wall clock (a busy machine, a slow start): the lost time
    // is given up rather than caught up, so that virtual time never runs
    // faster than the clock, and the buoy's 100 ms of silence before it
    // answers is never shorter than the operator's.
    if (adelanto < -0.02)
        *inicio_real_ += std::chrono::duration_cast<reloj::duration>(std::chrono::duration<double>(-adelanto - 0.02));
}

uint64_t Simulacion::monticulo_en_uso() const
{
    return chip_ ? chip_->monticulo_en_uso() : placa::monticulo().bytes_en_uso;
}

// One boot of the firmware library on the host board.
void Simulacion::ejecutar_host(bool &fin)
{
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

// One boot of the image on the emulated chip: from its reset to the next.
void Simulacion::ejecutar_chip(bool &fin, samd21::TipoReset &tipo)
{
    placa_.reinicio_hardware();
    chip_->reiniciar(tipo);
    arranques_++;
    for (Extension *e : extensiones()) e->arranque(*this, arranques_);
    try {
        chip_->ejecutar();
    } catch (const placa::FinSimulacion &) {
        fin = true;
    } catch (const placa::ReinicioPlaca &r) {
        placa_.anotar_reinicio(r);
        tipo = r.causa == placa::CAUSA_CORTE           ? samd21::TipoReset::encendido
               : r.causa == placa::CAUSA_PIN_RESET     ? samd21::TipoReset::pin_externo
               : r.causa == placa::CAUSA_CAIDA_TENSION ? samd21::TipoReset::brown_out
                                                       : chip_->reset_pedido();
    } catch (const samd21::ParadaEmulador &) {
        // What the image did up to the stop stays in the outputs.
        telemetria_->vaciar();
        consola_->vaciar();
        if (!opciones_.registro_mmio.empty()) chip_->escribir_registro_mmio(opciones_.registro_mmio);
        throw;
    }
    contar_descartes_runtime();
    for (Extension *e : extensiones()) e->antes_de_descargar(*this);
}

// The runtime's own count of the bytes its receive buffers dropped, read from
// the chip's RAM before the next start clears it.
void Simulacion::contar_descartes_runtime()
{
    const auto *cuentas = static_cast<const uint32_t *>(simbolos_->simbolo("samd21_uart_descartados"));
    if (!cuentas) return;
    for (int p = 0; p < placa::NUM_PUERTOS; p++) descartes_runtime_[p] += cuentas[p];
}

nlohmann::json Simulacion::ejecutar()
{
    for (double t : opciones_.cortes) placa_.programar_corte(placa_.ciclo_de_segundos_reales(t));
    for (const auto &c : opciones_.cortes_eeprom)
        placa_.programar(placa_.ciclo_de_segundos_reales(c.first), [this, c] { placa_.eeprom_cortar_en_commit(c.second); });
    for (Extension *e : extensiones()) e->preparar(*this);
    // On the chip the loop is not ours to count: the progress bar and the
    // pacing to the wall clock go by virtual time.
    std::function<void()> pulso;
    if (chip_ && (terminal_ || opciones_.tiempo_real)) {
        pulso = [this, &pulso] {
            mostrar_progreso(false);
            if (opciones_.tiempo_real) acompasar();
            placa_.programar(placa_.ciclo() + ciclo_de(opciones_.tiempo_real ? 0.01 : 1.0), pulso);
        };
        placa_.programar(0, pulso);
    }
    // The emulated chip's reset button and supply dips.
    if (chip_) {
        for (double t : opciones_.pulsaciones_reset)
            placa_.programar(ciclo_de(t), [this] { throw placa::ReinicioPlaca{placa::CAUSA_PIN_RESET, placa_.ciclo()}; });
        for (double t : opciones_.caidas_tension) placa_.programar(ciclo_de(t), [this] { chip_->caida_tension(); });
    }
    bool fin = false;
    samd21::TipoReset tipo = samd21::TipoReset::encendido;
    try {
        while (!fin) {
            if (chip_) ejecutar_chip(fin, tipo);
            else ejecutar_host(fin);
        }
    } catch (...) {
        guardar_mundo();  // what the run lived (and wrote on the card) is not lived again
        throw;
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
    // Bytes lost on the way in, by where they were lost: the receive buffer
    // the firmware reads from (the board's 4096 bytes on the host, the
    // runtime's ring buffers on the chip) and the hardware (the chip's USART
    // receive buffer overflowing, BUFOVF; the host board has none to lose).
    nlohmann::json descartados, por_causa, recibidos, enviados;
    for (int p = 0; p < placa::NUM_PUERTOS; p++) {
        uint64_t buffer = chip_ ? descartes_runtime_[p] : placa_.estadisticas(p).bytes_descartados;
        uint64_t hardware = chip_ ? placa_.estadisticas(p).bytes_descartados : 0;
        descartados[NOMBRES_PUERTOS[p]] = buffer + hardware;
        por_causa[NOMBRES_PUERTOS[p]] = {{"receive_buffer", buffer}, {"hardware", hardware}};
        recibidos[NOMBRES_PUERTOS[p]] = placa_.estadisticas(p).bytes_recibidos;
        enviados[NOMBRES_PUERTOS[p]] = placa_.estadisticas(p).bytes_enviados;
    }
    j["uart_dropped_bytes"] = descartados;
    j["uart_dropped_bytes_by_cause"] = por_causa;
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
    j["board"] = opciones_.placa;
    if (chip_) {
        j["ticks"] = chip_->ticks_tcc0();
        j["lost_ticks"] = nullptr;
        j["eeprom_commits"] = chip_->borrados_eeprom();
        j["nvm_user_row_writes"] = chip_->escrituras_fila_usuario();
        j["heap_peak_bytes"] = chip_->monticulo_pico();
        j["heap_refused_requests"] = chip_->monticulo_rechazos();
        j["stack_peak_bytes_host"] = nullptr;
        j["samd21"] = chip_->resumen();
        if (!opciones_.registro_mmio.empty()) chip_->escribir_registro_mmio(opciones_.registro_mmio);
    }
    for (Extension *e : extensiones()) e->resumen(*this, j);
    if (chip_) {
        uint64_t epocas = j.contains("sensor") ? j["sensor"].value("epochs_sent", (uint64_t)0) : 0;
        j["samd21"]["per_epoch"] = chip_->perfil(epocas);
    }

    std::ofstream f(ruta_salida("summary.json"));
    f << j.dump(2) << "\n";
    guardar_mundo();
    return j;
}

// The next run on this folder starts where this one ended (the first whole
// second not lived yet).
void Simulacion::guardar_mundo()
{
    int64_t utc_fin = (int64_t)std::ceil((double)opciones_.utc_inicial + segundos() - 1e-3);
    double vivido = opciones_.mundo_vivido_s + (double)(utc_fin - opciones_.utc_inicial);
    std::ofstream estado(ruta_salida(ESTADO_MUNDO));
    estado << nlohmann::json{{"utc_end", texto_de_utc(utc_fin)}, {"world_seconds", vivido}, {"board", opciones_.placa}}
                  .dump(2)
           << "\n";
}
