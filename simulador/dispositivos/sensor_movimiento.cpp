#include "sensor_movimiento.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <stdexcept>

#include "../simulacion.h"

namespace sbg {
// The reflected CRC-16 (polynomial 0x8408), a byte at a time from a table.
uint16_t crc(const uint8_t *datos, size_t n)
{
    static const std::array<uint16_t, 256> tabla = [] {
        std::array<uint16_t, 256> t{};
        for (int v = 0; v < 256; v++) {
            uint16_t c = (uint16_t)v;
            for (int b = 0; b < 8; b++) c = (c & 1) ? (uint16_t)((c >> 1) ^ 0x8408) : (uint16_t)(c >> 1);
            t[(size_t)v] = c;
        }
        return t;
    }();
    uint16_t c = 0;
    for (size_t i = 0; i < n; i++) c = (uint16_t)((c >> 8) ^ tabla[(c ^ datos[i]) & 0xFF]);
    return c;
}

std::vector<uint8_t> trama(uint8_t id, uint8_t clase, const std::vector<uint8_t> &carga)
{
    size_t n = carga.size();
    std::vector<uint8_t> t(n + 9, 0);
    t[0] = 0xFF;
    t[1] = 0x5A;
    t[2] = id;
    t[3] = clase;
    t[4] = (uint8_t)(n & 0xFF);
    t[5] = (uint8_t)(n >> 8);
    for (size_t i = 0; i < n; i++) t[6 + i] = carga[i];
    uint16_t c = crc(t.data() + 2, n + 4);
    t[6 + n] = (uint8_t)(c & 0xFF);
    t[7 + n] = (uint8_t)(c >> 8);
    t[8 + n] = 0x33;
    return t;
}
}  // namespace sbg

namespace {
constexpr uint32_t BAUDIOS = 115200;
constexpr int PUERTO = 2;
constexpr int64_t VENTANA_RAFAGA_US = 2000;

void poner_u32(std::vector<uint8_t> &c, size_t o, uint32_t v)
{
    for (int i = 0; i < 4; i++) c[o + i] = (uint8_t)(v >> (8 * i));
}
void poner_f(std::vector<uint8_t> &c, size_t o, float v)
{
    uint32_t b;
    std::memcpy(&b, &v, 4);
    poner_u32(c, o, b);
}
uint32_t leer_u32(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }

const char *NOMBRE_ESTADO[] = {"ok", "corrupt", "dropped", "zero"};
}  // namespace

SensorMovimiento::SensorMovimiento(placa::Placa &placa, const ConfigSensor &c, const Mar *mar)
    : placa_(placa), c_(c), mar_(mar), fallos_(c.semilla_fallos * 0x9E3779B97F4A7C15ULL + 3)
{
    periodo_us_ = std::llround(1e6 / c_.hz);
    inicio_us_ = std::llround(c_.inicio_s * 1e6);
    if (!c_.registro.empty()) {
        registro_ = std::fopen(c_.registro.c_str(), "wb");
        if (!registro_) throw std::runtime_error("cannot write the sensor record " + c_.registro);
    }
    if (!c_.verdad.empty() && mar_) {
        verdad_ = std::fopen(c_.verdad.c_str(), "w");
        if (!verdad_) throw std::runtime_error("cannot write the sensor truth " + c_.verdad);
        std::fprintf(verdad_, "epoch,time_s,stamp_us,elevation_m,heave_m,vn,ve,yaw_rad,ship,nav,euler,extra_nav\n");
    }
    if (!c_.replay.empty()) {
        preparar_replay();
        proximo_ = rafagas_.empty() ? placa::NUNCA : ciclo_de_us(rafagas_[0].t_us);
    } else {
        proximo_ = ciclo_de_us(inicio_us_);
    }
}

SensorMovimiento::~SensorMovimiento() { cerrar_ficheros(); }

void SensorMovimiento::cerrar_ficheros()
{
    if (registro_) std::fclose(registro_);
    if (verdad_) std::fclose(verdad_);
    registro_ = verdad_ = nullptr;
}

uint64_t SensorMovimiento::ciclo_de_us(int64_t t_us) const { return placa_.ciclo_de_segundos_reales((double)t_us / 1e6); }

// Whether a whole frame (sync bytes, a length of at least the stamp, all its
// bytes present) starts at b[i]; gives its size and its stamp.
static bool trama_entera(const std::vector<uint8_t> &b, size_t i, size_t *total, uint32_t *sello)
{
    if (i + 10 > b.size() || b[i] != 0xFF || b[i + 1] != 0x5A) return false;
    size_t n = (size_t)b[i + 4] | ((size_t)b[i + 5] << 8);
    if (n < 4 || i + n + 9 > b.size()) return false;
    *total = n + 9;
    *sello = leer_u32(&b[i + 6]);
    return true;
}

// Whether the whole frame of that size at b[i] passes its check.
static bool crc_valida(const std::vector<uint8_t> &b, size_t i, size_t total)
{
    size_t n = total - 9;
    return sbg::crc(&b[i + 2], n + 4) == (uint16_t)(b[i + 6 + n] | (b[i + 7 + n] << 8));
}

// Damaged frames (their check failed) still carry a stamp, mostly intact.
// Among the bytes waiting between two bursts: how many at their head are
// whole frames stamped within the burst window of the given stamp, so that
// they came at the end of that burst.
static size_t cola_de_rafaga(const std::vector<uint8_t> &b, uint32_t sello_rafaga)
{
    size_t i = 0, total;
    uint32_t sello;
    while (trama_entera(b, i, &total, &sello)) {
        int64_t d = (int64_t)(int32_t)(sello - sello_rafaga);
        if (sello == 0 || d > VENTANA_RAFAGA_US || d < -VENTANA_RAFAGA_US) break;
        i += total;
    }
    return i;
}

// The stamp of the first whole frame among damaged bytes, as a step from the
// given stamp.
static bool sello_danado(const std::vector<uint8_t> &b, uint32_t desde, int64_t *d)
{
    size_t total;
    uint32_t sello;
    for (size_t i = 0; i < b.size(); i++) {
        if (!trama_entera(b, i, &total, &sello) || sello == 0) continue;
        *d = (int64_t)(int32_t)(sello - desde);
        return true;
    }
    return false;
}

// The recorded stream is cut into bursts by the frames' own time stamps: a
// frame within 2 ms of the first frame of the burst joins it. Bytes that are
// no valid frame (corrupt frames, noise) and frames stamped 0 go with the
// next stamped frame, except damaged frames whose stamp places them (see
// below), so the stream goes out byte for byte as it was logged.
void SensorMovimiento::preparar_replay()
{
    std::ifstream f(c_.replay, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read the sensor log " + c_.replay);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> pendiente;
    size_t pendiente_tramas = 0;
    uint32_t sello0 = 0;
    int64_t u0 = 0;
    size_t i = 0;
    while (i < b.size()) {
        size_t total;
        uint32_t sello;
        if (trama_entera(b, i, &total, &sello) && crc_valida(b, i, total)) {
            pendiente.insert(pendiente.end(), b.begin() + (long)i, b.begin() + (long)(i + total));
            pendiente_tramas++;
            i += total;
            if (sello == 0) continue;
            int64_t d = rafagas_.empty() ? 0 : (int64_t)(int32_t)(sello - sello0);
            if (rafagas_.empty() || d > VENTANA_RAFAGA_US || d < -VENTANA_RAFAGA_US) {
                // Damaged frames waiting since the last burst go with it when they
                // carry its stamp (its last frames were damaged); those whose stamp
                // falls between it and this one are a burst of their own (every
                // frame of it damaged), sent at its time rather than ahead of this
                // one. The rest come just ahead of this burst.
                if (!rafagas_.empty()) {
                    size_t cola = cola_de_rafaga(pendiente, sello0);
                    Rafaga &anterior = rafagas_.back();
                    anterior.bytes.insert(anterior.bytes.end(), pendiente.begin(), pendiente.begin() + (long)cola);
                    pendiente.erase(pendiente.begin(), pendiente.begin() + (long)cola);
                }
                int64_t dp = 0;
                if (d > 0 && sello_danado(pendiente, sello0, &dp) && dp > VENTANA_RAFAGA_US &&
                    dp < d - VENTANA_RAFAGA_US) {
                    rafagas_.push_back({inicio_us_ + u0 + dp, pendiente, pendiente_tramas});
                    pendiente.clear();
                    pendiente_tramas = 0;
                }
                int64_t u = rafagas_.empty() ? 0 : (d > 0 ? u0 + d : rafagas_.back().t_us - inicio_us_ + 1);
                rafagas_.push_back({inicio_us_ + u, {}, 0});
                sello0 = sello;
                u0 = u;
            }
            Rafaga &r = rafagas_.back();
            r.bytes.insert(r.bytes.end(), pendiente.begin(), pendiente.end());
            r.tramas += pendiente_tramas;
            pendiente.clear();
            pendiente_tramas = 0;
            continue;
        }
        pendiente.push_back(b[i]);
        i++;
    }
    if (!pendiente.empty()) {
        if (rafagas_.empty()) rafagas_.push_back({inicio_us_, {}, 0});
        rafagas_.back().bytes.insert(rafagas_.back().bytes.end(), pendiente.begin(), pendiente.end());
        rafagas_.back().tramas += pendiente_tramas;
    }
}

void SensorMovimiento::actuar(uint64_t ciclo)
{
    if (ciclo < proximo_) return;
    if (al_actuar) al_actuar();
    if (!c_.replay.empty()) {
        const Rafaga &r = rafagas_[epoca_];
        placa_.enviar_a_placa(PUERTO, r.bytes.data(), r.bytes.size(), BAUDIOS, ciclo);
        if (registro_) std::fwrite(r.bytes.data(), 1, r.bytes.size(), registro_);
        cuentas_.epocas++;
        cuentas_.tramas += r.tramas;
        cuentas_.bytes += r.bytes.size();
        epoca_++;
        proximo_ = epoca_ < rafagas_.size() ? ciclo_de_us(rafagas_[epoca_].t_us) : placa::NUNCA;
        return;
    }
    enviar_epoca();
    epoca_++;
    proximo_ = ciclo_de_us(inicio_us_ + (int64_t)epoca_ * periodo_us_);
}

void SensorMovimiento::enviar_epoca()
{
    int64_t t_us = inicio_us_ + (int64_t)epoca_ * periodo_us_;
    int64_t cuenta_us = t_us + (int64_t)std::llround((double)t_us * c_.reloj_ppm * 1e-6);
    uint32_t sello = (uint32_t)(c_.reloj_inicial_us + (uint64_t)cuenta_us);
    Mar::Estado e = mar_->en((double)t_us / 1e6 + c_.mar_desde_s);
    float heave = (float)(-e.elevacion);  // the sensor's heave is positive down
    float vn = (float)e.vn, ve = (float)e.ve, yaw = (float)e.yaw;
    bool con_nan = c_.p_nan > 0 && fallos_.uniforme() < c_.p_nan;
    if (con_nan) {
        vn = ve = std::numeric_limits<float>::quiet_NaN();
        cuentas_.nan++;
    }
    int cero = -1;  // which log carries a zero stamp
    if (c_.p_tiempo_cero > 0 && fallos_.uniforme() < c_.p_tiempo_cero) {
        cero = (int)(fallos_.siguiente() % 3);
        cuentas_.tiempos_cero++;
    }
    bool segunda = c_.p_segunda_nav > 0 && fallos_.uniforme() < c_.p_segunda_nav;

    std::vector<uint8_t> sm(46, 0), nav(72, 0), eu(c_.protocolo_actual ? 40 : 32, 0);
    poner_u32(sm, 0, cero == 0 ? 0 : sello);
    poner_f(sm, 4, (float)mar_->parametros().tp);
    poner_f(sm, 16, heave);
    poner_u32(nav, 0, cero == 1 ? 0 : sello);
    poner_f(nav, 4, vn);
    poner_f(nav, 8, ve);
    poner_u32(nav, 68, 0x08000020u | 0x4u);  // alignment and heading valid, full navigation
    poner_u32(eu, 0, cero == 2 ? 0 : sello);
    poner_f(eu, 12, yaw);
    poner_u32(eu, 28, 0x4u);

    struct Pieza {
        std::vector<uint8_t> bytes;
        int estado;
    };
    std::vector<Pieza> piezas;
    piezas.push_back({sbg::trama(sbg::LOG_SHIP_MOTION, 0, sm), cero == 0 ? 3 : 0});
    piezas.push_back({sbg::trama(sbg::LOG_EKF_NAV, 0, nav), cero == 1 ? 3 : 0});
    if (segunda) {
        // A later navigation log, further from the heave: the firmware keeps the first.
        std::vector<uint8_t> nav2 = nav;
        poner_u32(nav2, 0, sello + 1000u);
        poner_f(nav2, 4, vn + 5.0f);
        poner_f(nav2, 8, ve + 5.0f);
        piezas.push_back({sbg::trama(sbg::LOG_EKF_NAV, 0, nav2), 0});
        cuentas_.segundas_nav++;
    }
    piezas.push_back({sbg::trama(sbg::LOG_EKF_EULER, 0, eu), cero == 2 ? 3 : 0});

    std::vector<uint8_t> rafaga;
    int estados[3] = {0, 0, 0};
    for (size_t k = 0; k < piezas.size(); k++) {
        Pieza &p = piezas[k];
        if (c_.p_perdida > 0 && fallos_.uniforme() < c_.p_perdida) {
            p.estado = 2;
            cuentas_.perdidas++;
        } else {
            if (c_.p_corrupto > 0 && fallos_.uniforme() < c_.p_corrupto) {
                // One bit of the payload or the CRC: the frame must be dropped.
                size_t span = p.bytes.size() - 7;
                size_t pos = 6 + (size_t)(fallos_.siguiente() % span);
                p.bytes[pos] ^= (uint8_t)(1u << (fallos_.siguiente() % 8));
                p.estado = 1;
                cuentas_.corruptas++;
            }
            rafaga.insert(rafaga.end(), p.bytes.begin(), p.bytes.end());
            cuentas_.tramas++;
        }
        bool extra = segunda && k == 2;
        if (!extra) {
            int log = k == 0 ? 0 : (k == 1 ? 1 : 2);
            estados[log] = p.estado;
        }
    }
    cuentas_.epocas++;
    cuentas_.bytes += rafaga.size();
    if (estados[0] == 0 && estados[1] == 0 && estados[2] == 0) cuentas_.epocas_completas++;
    if (!rafaga.empty()) {
        placa_.enviar_a_placa(PUERTO, rafaga.data(), rafaga.size(), BAUDIOS, placa_.ciclo());
        if (registro_) std::fwrite(rafaga.data(), 1, rafaga.size(), registro_);
    }
    if (verdad_)
        std::fprintf(verdad_, "%llu,%.6f,%u,%.9g,%.9g,%.9g,%.9g,%.9g,%s,%s,%s,%d\n", (unsigned long long)epoca_,
                     (double)t_us / 1e6, sello, e.elevacion, (double)heave, (double)vn, (double)ve, (double)yaw,
                     NOMBRE_ESTADO[estados[0]], NOMBRE_ESTADO[estados[1]], NOMBRE_ESTADO[estados[2]], segunda ? 1 : 0);
}

// ------------------------------------------------------------------ extension

namespace {

class ExtensionSensor : public Extension {
public:
    void opciones(CLI::App &app) override
    {
        c_ = ConfigSensor{};
        mar_texto_.clear();
        sin_sensor_ = false;
        protocolo_ = "legacy";
        app.add_option("--sea", mar_texto_,
                       "synthetic sea hs=H,tp=T,dir=D,spread=S,gamma=G,seed=N[,drift=N,E] "
                       "(default hs=1.5,tp=8,dir=45,spread=25,gamma=3.3,seed=1)");
        app.add_flag("--no-sensor", sin_sensor_, "no motion sensor on Serial2");
        app.add_option("--sensor-rate", c_.hz, "sensor output rate, Hz (default 10)");
        app.add_option("--sensor-start", c_.inicio_s, "virtual second of the sensor's first burst (default 3)");
        app.add_option("--sensor-protocol", protocolo_, "legacy (32-byte EKF Euler) or current (40-byte)")
            ->check(CLI::IsMember({"legacy", "current"}));
        app.add_option("--sensor-log", c_.replay, "replay a raw sbgECom byte stream instead of the sea");
        app.add_option("--sensor-record", c_.registro, "write the raw byte stream sent to the buoy to FILE");
        app.add_option("--sensor-truth", c_.verdad, "write the true values of every epoch to FILE (CSV)");
        app.add_option("--sensor-clock-start", c_.reloj_inicial_us,
                       "sensor's microsecond counter at virtual time 0 (wraps at 2^32)");
        app.add_option("--sensor-clock-ppm", c_.reloj_ppm, "the sensor's microsecond counter runs this many ppm fast");
        app.add_option("--sensor-corrupt", c_.p_corrupto, "probability that a frame has one bit flipped");
        app.add_option("--sensor-drop", c_.p_perdida, "probability that a frame is not sent");
        app.add_option("--sensor-second-nav", c_.p_segunda_nav, "probability of a second EKF navigation log");
        app.add_option("--sensor-zero-stamp", c_.p_tiempo_cero, "probability that one log of an epoch is stamped 0");
        app.add_option("--sensor-nan-velocity", c_.p_nan, "probability of not-a-number velocities in an epoch");
        app.add_option("--sensor-fault-seed", c_.semilla_fallos, "seed of the fault injection (default 1)");
    }

    void validar(const Opciones &) override
    {
        mar_ = ParametrosMar{};
        if (!mar_texto_.empty()) {
            std::string error = leer_parametros_mar(mar_texto_, mar_);
            if (!error.empty()) throw CLI::ValidationError("--sea", error);
        }
        if (!(c_.hz > 0 && c_.hz <= 100)) throw CLI::ValidationError("--sensor-rate", "must be in (0, 100] Hz");
        if (!(c_.inicio_s >= 0)) throw CLI::ValidationError("--sensor-start", "must be 0 or more");
        for (double p : {c_.p_corrupto, c_.p_perdida, c_.p_segunda_nav, c_.p_tiempo_cero, c_.p_nan})
            if (!(p >= 0 && p <= 1)) throw CLI::ValidationError("--sensor-*", "fault probabilities are 0..1");
        if (!c_.replay.empty() && !mar_texto_.empty())
            throw CLI::ValidationError("--sensor-log", "replays a recorded stream: no --sea with it");
        if (sin_sensor_ && (!c_.replay.empty() || !mar_texto_.empty()))
            throw CLI::ValidationError("--no-sensor", "no --sea or --sensor-log with it");
        c_.protocolo_actual = protocolo_ == "current";
    }

    void preparar(Simulacion &sim) override
    {
        dispositivo_.reset();
        modelo_mar_.reset();
        contador_ = nullptr;
        previas_ = ultima_ = 0;
        lineas_pto_ = 0;
        coincidencia_ = 0;
        if (sin_sensor_) return;
        if (c_.replay.empty()) modelo_mar_ = std::make_unique<Mar>(mar_);
        c_.mar_desde_s = sim.opciones().mundo_vivido_s;
        dispositivo_ = std::make_unique<SensorMovimiento>(sim.placa(), c_, modelo_mar_.get());
        sim.placa().conectar(PUERTO, dispositivo_.get());
        sim.telemetria().al_recibir([this](uint8_t b, uint64_t) { contar_pto(b); });
        // Reads the firmware's sample count just before the end of the run.
        uint64_t fin = sim.ciclo_de(sim.opciones().duracion_s);
        if (fin > 0) sim.placa().programar(fin - 1, [this] { leer_contador(); });
    }

    void arranque(Simulacion &sim, int) override
    {
        previas_ += ultima_;
        ultima_ = 0;
        contador_ = static_cast<uint32_t *>(sim.firmware().simbolo("imuestras_formadas"));
        if (dispositivo_) dispositivo_->al_actuar = [this] { leer_contador(); };
    }

    void terminar(Simulacion &sim) override
    {
        contador_ = nullptr;
        if (dispositivo_) {
            dispositivo_->al_actuar = nullptr;
            dispositivo_->cerrar_ficheros();
        }
        (void)sim;
    }

    void resumen(Simulacion &, nlohmann::json &j) override
    {
        nlohmann::json s;
        s["enabled"] = !sin_sensor_;
        if (dispositivo_) {
            const CuentasSensor &k = dispositivo_->cuentas();
            s["source"] = c_.replay.empty() ? "sea" : "replay";
            if (modelo_mar_) {
                const ParametrosMar &p = modelo_mar_->parametros();
                s["sea"] = {{"hs_m", p.hs},         {"tp_s", p.tp},           {"dir_from_deg", p.dir},
                            {"spread_deg", p.spread}, {"gamma", p.gamma},     {"seed", p.seed},
                            {"drift_n_ms", p.drift_n}, {"drift_e_ms", p.drift_e}, {"hm0_m", modelo_mar_->hm0()},
                            {"m0_m2", modelo_mar_->m0()}, {"components", modelo_mar_->componentes()}};
            } else {
                s["log"] = c_.replay;
                s["log_bursts"] = dispositivo_->rafagas_replay();
            }
            s["protocol"] = c_.protocolo_actual ? "current" : "legacy";
            s["rate_hz"] = c_.hz;
            s["start_s"] = c_.inicio_s;
            s["epochs_sent"] = k.epocas;
            s["frames_sent"] = k.tramas;
            s["bytes_sent"] = k.bytes;
            s["faults"] = {{"frames_corrupted", k.corruptas}, {"frames_dropped", k.perdidas},
                           {"second_nav_logs", k.segundas_nav}, {"zero_stamps", k.tiempos_cero},
                           {"nan_velocities", k.nan}};
            if (modelo_mar_) s["epochs_intact"] = k.epocas_completas;
            // Read from the firmware's own count (imuestras_formadas) at the
            // end of every boot, and the "#PTO," lines seen on the telemetry link.
            s["firmware_samples"] = previas_ + ultima_;
            s["pto_lines"] = lineas_pto_;
        }
        j["sensor"] = s;
    }

private:
    void leer_contador()
    {
        if (contador_) ultima_ = *contador_;
    }
    void contar_pto(uint8_t b)
    {
        static const char PATRON[] = "#PTO,";
        if (b == (uint8_t)PATRON[coincidencia_]) {
            if (++coincidencia_ == 5) {
                lineas_pto_++;
                coincidencia_ = 0;
            }
        } else {
            coincidencia_ = b == '#' ? 1 : 0;
        }
    }

    ConfigSensor c_;
    ParametrosMar mar_;
    std::string mar_texto_, protocolo_ = "legacy";
    bool sin_sensor_ = false;
    std::unique_ptr<Mar> modelo_mar_;
    std::unique_ptr<SensorMovimiento> dispositivo_;
    uint32_t *contador_ = nullptr;
    uint64_t previas_ = 0, ultima_ = 0, lineas_pto_ = 0;
    int coincidencia_ = 0;
};

ExtensionSensor extension_sensor;
RegistroExtension registro_sensor(&extension_sensor);

}  // namespace
