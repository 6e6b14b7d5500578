#include "receptor_gps.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "../simulacion.h"
#include "../tiempo_texto.h"

namespace {

constexpr int PUERTO_GPS = 3;
constexpr uint32_t BAUDIOS_GPS = 9600;
// The receiver outputs its burst a little after each UTC second.
constexpr double RETRASO_RAFAGA_S = 0.05;
// Latency of an answer to a command.
constexpr double RETRASO_RESPUESTA_S = 0.004;
// The replay starts when the buoy has configured an answering receiver.
constexpr double INICIO_REPRODUCCION_S = 3.0;
// What 9600 baud carries in one second: a longer burst is cut there.
constexpr size_t MAXIMO_RAFAGA_CAPTURA = 960;

// NMEA message ids of class 0xF0.
constexpr uint8_t GGA = 0x00, GLL = 0x01, GSA = 0x02, GSV = 0x03, RMC = 0x04, VTG = 0x05, ZDA = 0x08;

std::string dos(int v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string ubx(uint8_t clase, uint8_t id, const std::vector<uint8_t> &carga)
{
    std::string m = {(char)0xB5, (char)0x62, (char)clase, (char)id, (char)(carga.size() & 0xFF),
                     (char)(carga.size() >> 8)};
    for (uint8_t b : carga) m.push_back((char)b);
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < m.size(); i++) {
        a = (uint8_t)(a + (uint8_t)m[i]);
        b = (uint8_t)(b + a);
    }
    m.push_back((char)a);
    m.push_back((char)b);
    return m;
}

// ddmm.mmmmm,N or dddmm.mmmmm,E as u-blox writes them.
std::string coordenada(double grados, bool latitud)
{
    char hemisferio = latitud ? (grados < 0 ? 'S' : 'N') : (grados < 0 ? 'W' : 'E');
    double a = std::fabs(grados);
    int g = (int)a;
    double minutos = (a - g) * 60.0;
    long cienmilesimas = std::lround(minutos * 100000.0);
    if (cienmilesimas >= 6000000) {
        g++;
        cienmilesimas -= 6000000;
    }
    char b[32];
    std::snprintf(b, sizeof b, latitud ? "%02d%02ld.%05ld,%c" : "%03d%02ld.%05ld,%c", g, cienmilesimas / 100000,
                  cienmilesimas % 100000, hemisferio);
    return b;
}

// Time field of a sentence that carries the UTC, "" for the others.
std::string hora_de_sentencia(const std::string &linea)
{
    if (linea.size() < 7 || linea[0] != '$') return "";
    std::string tipo = linea.substr(3, 3);
    int campo;
    if (tipo == "GGA" || tipo == "RMC" || tipo == "ZDA" || tipo == "GNS" || tipo == "GST" || tipo == "GBS")
        campo = 1;
    else if (tipo == "GLL")
        campo = 5;
    else
        return "";
    size_t p = 0;
    for (int i = 0; i < campo; i++) {
        p = linea.find(',', p);
        if (p == std::string::npos) return "";
        p++;
    }
    size_t q = p;
    while (q < linea.size() && std::isdigit((unsigned char)linea[q])) q++;
    if (q - p < 6) return "";
    return linea.substr(p, 6);
}

}  // namespace

std::string sentencia_nmea(const std::string &cuerpo)
{
    uint8_t x = 0;
    for (char c : cuerpo) x ^= (uint8_t)c;
    char b[8];
    std::snprintf(b, sizeof b, "*%02X\r\n", x);
    return "$" + cuerpo + b;
}

std::vector<std::string> rafagas_de_captura(const std::string &c)
{
    std::vector<std::string> rafagas;
    std::string actual, hora_actual;
    bool visto_hora = false;  // the capture's preamble before its first epoch is a burst of its own
    auto cerrar = [&]() {
        if (!actual.empty()) rafagas.push_back(actual);
        actual.clear();
        hora_actual.clear();
    };
    auto anadir = [&](const std::string &unidad) {
        if (!actual.empty() && actual.size() + unidad.size() > MAXIMO_RAFAGA_CAPTURA) {
            std::string h = hora_actual;
            cerrar();
            hora_actual = h;
        }
        actual += unidad;
    };
    size_t i = 0;
    bool inicio_linea = true;
    while (i < c.size()) {
        uint8_t b = (uint8_t)c[i];
        if (b == 0xB5 && i + 6 <= c.size() && (uint8_t)c[i + 1] == 0x62) {
            size_t largo = (uint8_t)c[i + 4] | ((size_t)(uint8_t)c[i + 5] << 8);
            size_t total = std::min(c.size() - i, 8 + largo);
            anadir(c.substr(i, total));
            i += total;
            inicio_linea = false;
            continue;
        }
        size_t fin = i;
        while (fin < c.size() && c[fin] != '\n' && !((uint8_t)c[fin] == 0xB5 && fin + 1 < c.size() &&
                                                     (uint8_t)c[fin + 1] == 0x62))
            fin++;
        bool con_lf = fin < c.size() && c[fin] == '\n';
        std::string linea = c.substr(i, fin - i + (con_lf ? 1 : 0));
        i = fin + (con_lf ? 1 : 0);
        bool era_inicio = inicio_linea;
        inicio_linea = con_lf;
        if (era_inicio && !linea.empty() && linea[0] == '#') continue;
        std::string sin_fin = linea;
        while (!sin_fin.empty() && (sin_fin.back() == '\n' || sin_fin.back() == '\r')) sin_fin.pop_back();
        if (sin_fin.empty()) continue;
        std::string hora = hora_de_sentencia(sin_fin);
        if (!hora.empty()) {
            if ((!hora_actual.empty() && hora != hora_actual) || !visto_hora) cerrar();
            hora_actual = hora;
            visto_hora = true;
        }
        anadir(linea);
    }
    cerrar();
    return rafagas;
}

ReceptorGps::ReceptorGps(Simulacion &sim, const ConfiguracionGps &config) : sim_(sim), config_(config)
{
    for (uint8_t id : {GGA, GLL, GSA, GSV, RMC, VTG}) tasas_[id] = 1;
    tasas_[ZDA] = 0;
    if (!config_.fichero_log.empty()) {
        std::ifstream f(config_.fichero_log, std::ios::binary);
        if (!f) throw std::runtime_error("cannot read " + config_.fichero_log);
        std::stringstream s;
        s << f.rdbuf();
        captura_ = rafagas_de_captura(s.str());
    }
    fichero_ = std::fopen(sim_.ruta_salida("gps_commands.bin").c_str(), "wb");
    if (!fichero_) throw std::runtime_error("cannot write " + sim_.ruta_salida("gps_commands.bin"));
    sim_.placa().conectar(PUERTO_GPS, this);
}

// The board may be gone already when the extension drops its receiver.
ReceptorGps::~ReceptorGps()
{
    if (fichero_) std::fclose(fichero_);
}

void ReceptorGps::vaciar()
{
    if (fichero_) std::fflush(fichero_);
}

uint64_t ReceptorGps::ciclo_rafaga(uint64_t n) const
{
    if (n == rafaga_calculada_) return ciclo_calculado_;
    double t;
    if (!config_.fichero_log.empty()) {
        t = INICIO_REPRODUCCION_S + (double)n;
    } else {
        // At the UTC seconds of the world.
        double primero = std::ceil((double)sim_.opciones().utc_inicial) - (double)sim_.opciones().utc_inicial;
        t = primero + (double)n + RETRASO_RAFAGA_S;
    }
    rafaga_calculada_ = n;
    ciclo_calculado_ = sim_.ciclo_de(t);
    return ciclo_calculado_;
}

bool ReceptorGps::callado(uint64_t ciclo) const
{
    return config_.mudo || sim_.placa().segundos_reales(ciclo) < config_.mudo_hasta_s;
}

uint64_t ReceptorGps::proximo_evento() const
{
    uint64_t p = placa::NUNCA;
    if (!pendientes_.empty()) p = pendientes_.front().ciclo;
    if (config_.mudo) return p;
    if (config_.flujo) return std::min(p, std::max(ciclo_sentencia_, ciclo_rafaga(0)));
    if (!config_.fichero_log.empty() && siguiente_rafaga_ >= captura_.size()) return p;
    return std::min(p, ciclo_rafaga(siguiente_rafaga_));
}

// One sentence of the model's burst for the second it starts in, one after
// the other round the burst, each as soon as the line is free.
void ReceptorGps::siguiente_sentencia(uint64_t ciclo)
{
    uint64_t c = std::max(ciclo_sentencia_, ciclo_rafaga(0));
    if (c > ciclo) return;
    double t = sim_.placa().segundos_reales(c);
    if (callado(c)) {
        ciclo_sentencia_ = sim_.ciclo_de(config_.mudo_hasta_s);
        return;
    }
    int64_t utc = (int64_t)std::floor((double)sim_.opciones().utc_inicial + t);
    bool apagon = false;
    for (const auto &a : config_.sin_fix_entre)
        if (t >= a.first && t < a.second) apagon = true;
    std::string r = rafaga_modelo(utc, !config_.sin_fix && !apagon && t >= config_.fix_tras_s);
    std::vector<std::string> sentencias;
    for (size_t i = 0; i < r.size();) {
        size_t fin = r.find('\n', i);
        fin = fin == std::string::npos ? r.size() : fin + 1;
        sentencias.push_back(r.substr(i, fin - i));
        i = fin;
    }
    if (sentencias.empty()) {  // every message switched off: nothing until the next second
        ciclo_sentencia_ = sim_.ciclo_de(std::floor(t) + 1.0);
        return;
    }
    const std::string &s = sentencias[indice_sentencia_++ % sentencias.size()];
    if (indice_sentencia_ % sentencias.size() == 1 || sentencias.size() == 1) rafagas_++;
    sim_.placa().enviar_a_placa(PUERTO_GPS, reinterpret_cast<const uint8_t *>(s.data()), s.size(), BAUDIOS_GPS, c);
    ciclo_sentencia_ = sim_.placa().linea_libre(PUERTO_GPS);
}

void ReceptorGps::actuar(uint64_t ciclo)
{
    while (!pendientes_.empty() && pendientes_.front().ciclo <= ciclo) {
        const std::string &b = pendientes_.front().bytes;
        sim_.placa().enviar_a_placa(PUERTO_GPS, reinterpret_cast<const uint8_t *>(b.data()), b.size(), BAUDIOS_GPS,
                                    pendientes_.front().ciclo);
        pendientes_.pop_front();
    }
    if (config_.mudo) return;
    if (config_.flujo) {
        siguiente_sentencia(ciclo);
        return;
    }
    uint64_t c = ciclo_rafaga(siguiente_rafaga_);
    if (c > ciclo) return;
    if (callado(c)) {
        siguiente_rafaga_++;
        return;
    }
    std::string rafaga;
    if (!config_.fichero_log.empty()) {
        if (siguiente_rafaga_ >= captura_.size()) return;
        rafaga = captura_[siguiente_rafaga_];
    } else {
        double t = sim_.placa().segundos_reales(c);
        int64_t utc = (int64_t)std::floor((double)sim_.opciones().utc_inicial + t);
        bool apagon = false;
        for (const auto &a : config_.sin_fix_entre)
            if (t >= a.first && t < a.second) apagon = true;
        rafaga = rafaga_modelo(utc, !config_.sin_fix && !apagon && t >= config_.fix_tras_s);
    }
    siguiente_rafaga_++;
    rafagas_++;
    sim_.placa().enviar_a_placa(PUERTO_GPS, reinterpret_cast<const uint8_t *>(rafaga.data()), rafaga.size(),
                                BAUDIOS_GPS, c);
}

std::string ReceptorGps::rafaga_modelo(int64_t utc, bool con_fix) const
{
    FechaHora f = fecha_de_utc(utc);
    std::string hora = dos(f.hora) + dos(f.minuto) + dos(f.segundo) + ".00";
    std::string fecha = dos(f.dia) + dos(f.mes) + dos(f.ano % 100);
    const std::string &t = config_.talker;
    std::string lat = coordenada(config_.latitud, true), lon = coordenada(config_.longitud, false);
    auto tasa = [this](uint8_t id) {
        auto it = tasas_.find(id);
        return it != tasas_.end() && it->second != 0;
    };
    const bool multi = t == "GN";
    std::string r;
    // The order in which u-blox receivers write their sentences.
    if (tasa(RMC)) {
        if (con_fix)
            r += sentencia_nmea(t + "RMC," + hora + ",A," + lat + "," + lon + ",0.012,," + fecha + ",,,A" +
                                (multi ? ",V" : ""));
        else
            r += sentencia_nmea(t + "RMC," + hora + ",V,,,,,,," + fecha + ",,,N" + (multi ? ",V" : ""));
    }
    if (tasa(VTG)) r += sentencia_nmea(t + (con_fix ? "VTG,,T,,M,0.012,N,0.022,K,A" : "VTG,,,,,,,,,N"));
    if (tasa(GGA)) {
        if (con_fix)
            r += sentencia_nmea(t + "GGA," + hora + "," + lat + "," + lon + ",1,08,1.01,3.2,M,50.1,M,,");
        else
            r += sentencia_nmea(t + "GGA," + hora + ",,,,,0,00,99.99,,,,,,");
    }
    if (tasa(GSA)) {
        if (con_fix) {
            if (multi) {
                r += sentencia_nmea("GNGSA,A,3,02,05,13,15,18,,,,,,,,1.85,1.01,1.55,1");
                r += sentencia_nmea("GNGSA,A,3,67,68,77,,,,,,,,,,1.85,1.01,1.55,2");
            } else {
                r += sentencia_nmea("GPGSA,A,3,02,05,13,15,18,20,24,29,,,,,1.85,1.01,1.55");
            }
        } else {
            r += sentencia_nmea(t + "GSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99" + (multi ? ",1" : ""));
        }
    }
    if (tasa(GSV)) {
        if (con_fix) {
            r += sentencia_nmea("GPGSV,2,1,08,02,45,120,42,05,30,060,40,13,65,300,45,15,20,210,38");
            r += sentencia_nmea("GPGSV,2,2,08,18,50,030,44,20,15,150,35,24,40,270,41,29,10,330,33");
        } else {
            r += sentencia_nmea("GPGSV,1,1,00");
        }
    }
    if (tasa(GLL)) {
        if (con_fix) r += sentencia_nmea(t + "GLL," + lat + "," + lon + "," + hora + ",A,A");
        else r += sentencia_nmea(t + "GLL,,,,," + hora + ",V,N");
    }
    if (tasa(ZDA)) r += sentencia_nmea(t + "ZDA," + hora + "," + dos(f.dia) + "," + dos(f.mes) + "," +
                                       std::to_string(f.ano) + ",00,00");
    return r;
}

void ReceptorGps::responder(const std::string &bytes, uint64_t ciclo)
{
    pendientes_.push_back({sim_.ciclo_de(sim_.placa().segundos_reales(ciclo) + RETRASO_RESPUESTA_S), bytes});
}

void ReceptorGps::mensaje_ubx(const std::vector<uint8_t> &m, uint64_t ciclo)
{
    uint8_t clase = m[2], id = m[3];
    size_t largo = m[4] | ((size_t)m[5] << 8);
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < 6 + largo; i++) {
        a = (uint8_t)(a + m[i]);
        b = (uint8_t)(b + a);
    }
    bool suma_ok = a == m[6 + largo] && b == m[7 + largo];
    if (clase != 0x06 || id != 0x01) {
        ubx_otros_++;
        return;
    }
    cfg_msg_++;
    // CFG-MSG: 3 bytes (rate on this port) or 8 (rates on every port).
    bool valido = suma_ok && (largo == 3 || largo == 8);
    if (config_.siempre_nak || !valido) {
        naks_++;
        responder(ubx(0x05, 0x00, {clase, id}), ciclo);
        return;
    }
    if (m[6] == 0xF0) tasas_[m[7]] = largo == 3 ? m[8] : m[6 + 2 + 1];  // port 1: UART1, wired to the buoy
    acks_++;
    responder(ubx(0x05, 0x01, {clase, id}), ciclo);
}

void ReceptorGps::linea_nmea(const std::string &linea, uint64_t ciclo)
{
    if (linea.rfind("$PUBX,03", 0) != 0) return;
    pubx_++;
    int n = 8;
    std::string cuerpo = "PUBX,03," + std::to_string(n);
    const int sv[8] = {2, 5, 13, 15, 18, 20, 24, 29};
    for (int i = 0; i < n; i++) cuerpo += "," + std::to_string(sv[i]) + ",U,120,45,42,064";
    std::string s = sentencia_nmea(cuerpo);
    responder(s, ciclo);
}

void ReceptorGps::recibir(uint8_t byte, uint32_t baudios_placa, uint64_t ciclo)
{
    uint8_t b = placa::byte_recibido(byte, baudios_placa, BAUDIOS_GPS);
    std::fputc(b, fichero_);
    if (callado(ciclo)) return;
    // UBX frames and NMEA text lines are told apart by their first bytes.
    if (!ubx_.empty() || b == 0xB5) {
        ubx_.push_back(b);
        if (ubx_.size() == 2 && ubx_[1] != 0x62) {
            ubx_.clear();
            return;
        }
        if (ubx_.size() >= 6) {
            size_t largo = ubx_[4] | ((size_t)ubx_[5] << 8);
            if (largo > 512) {
                ubx_.clear();
                return;
            }
            if (ubx_.size() == 8 + largo) {
                mensaje_ubx(ubx_, ciclo);
                ubx_.clear();
            }
        }
        return;
    }
    if (b == '$') texto_.clear();
    if (b == '\n') {
        linea_nmea(texto_, ciclo);
        texto_.clear();
        return;
    }
    if (texto_.size() < 256) texto_.push_back((char)b);
}

// ---------------------------------------------------------------- the extension

namespace {

class ExtensionGps : public Extension {
public:
    void opciones(CLI::App &app) override
    {
        app.add_option("--position", posicion_, "position of the buoy, LAT,LON in degrees (south, west negative)");
        app.add_option("--gps", gps_,
                       "GPS receiver: fix-after=S (default 40), nofix, outage=T1-T2, none, silent-until=T, nak, "
                       "stream, log=FILE, talker=GN (repeatable)");
    }

    void validar(const Opciones &o) override
    {
        (void)o;
        config_ = ConfiguracionGps();
        if (!posicion_.empty()) {
            double lat, lon;
            char sobra;
            if (std::sscanf(posicion_.c_str(), "%lf,%lf%c", &lat, &lon, &sobra) != 2 || lat < -90 || lat > 90 ||
                lon < -180 || lon > 180)
                throw CLI::ValidationError("--position", "not a position LAT,LON: " + posicion_);
            config_.latitud = lat;
            config_.longitud = lon;
        }
        for (const std::string &g : gps_) {
            if (g == "nofix") config_.sin_fix = true;
            else if (g == "none") config_.mudo = true;
            else if (g == "nak") config_.siempre_nak = true;
            else if (g == "stream") config_.flujo = true;
            else if (g.rfind("silent-until=", 0) == 0) {
                auto t = segundos_de_texto(g.substr(13));
                if (!t) throw CLI::ValidationError("--gps", "not a time: " + g);
                config_.mudo_hasta_s = *t;
            }
            else if (g.rfind("fix-after=", 0) == 0) {
                char *fin = nullptr;
                std::string v = g.substr(10);
                double s = std::strtod(v.c_str(), &fin);
                if (v.empty() || *fin != '\0' || s < 0) throw CLI::ValidationError("--gps", "not a time: " + g);
                config_.fix_tras_s = s;
            } else if (g.rfind("outage=", 0) == 0) {
                std::string v = g.substr(7);
                size_t guion = v.find('-');
                auto a = guion == std::string::npos ? std::nullopt : segundos_de_texto(v.substr(0, guion));
                auto b = guion == std::string::npos ? std::nullopt : segundos_de_texto(v.substr(guion + 1));
                if (!a || !b || *b < *a) throw CLI::ValidationError("--gps", "not an interval T1-T2: " + g);
                config_.sin_fix_entre.emplace_back(*a, *b);
            } else if (g.rfind("log=", 0) == 0 && g.size() > 4) {
                config_.fichero_log = g.substr(4);
                std::ifstream f(config_.fichero_log);
                if (!f) throw CLI::ValidationError("--gps", "cannot read " + config_.fichero_log);
            } else if (g == "talker=GN" || g == "talker=GP") {
                config_.talker = g.substr(7);
            } else {
                throw CLI::ValidationError("--gps", "unknown setting: " + g);
            }
        }
        if (config_.flujo && !config_.fichero_log.empty())
            throw CLI::ValidationError("--gps", "stream and log= do not go together");
    }

    void preparar(Simulacion &sim) override
    {
        receptor_.reset();
        receptor_ = std::make_unique<ReceptorGps>(sim, config_);
        correcciones_ = nlohmann::json::array();
        linea_.clear();
        sim.consola().al_recibir([this, &sim](uint8_t b, uint64_t ciclo) { consola(sim, b, ciclo); });
    }

    void antes_de_descargar(Simulacion &sim) override
    {
        auto leer = [&sim](const char *nombre) -> int {
            auto *p = static_cast<volatile uint8_t *>(sim.firmware().simbolo(nombre));
            return p ? *p : -1;
        };
        int ano = leer("cano_utc");
        desfase_valido_ = false;
        auto *v = static_cast<int32_t *>(sim.firmware().simbolo("CTE_VELOCIDAD_RELOJ"));
        velocidad_ = v ? *v : -1;
        if (ano <= 0) return;
        FechaHora f{2000 + ano, leer("cmes_utc"), leer("cdia_utc"), leer("chora_utc"), leer("cminuto_utc"),
                    leer("csegundo_utc")};
        if (f.mes < 1 || f.mes > 12 || f.dia < 1 || f.dia > 31) return;
        desfase_s_ = (double)utc_de_fecha(f) - sim.utc();
        desfase_valido_ = true;
    }

    void terminar(Simulacion &sim) override
    {
        (void)sim;
        receptor_->vaciar();
    }

    void resumen(Simulacion &sim, nlohmann::json &j) override
    {
        nlohmann::json g;
        g["mode"] = config_.mudo            ? "none"
                    : !config_.fichero_log.empty() ? "log"
                    : config_.sin_fix       ? "nofix"
                                            : "model";
        g["talker"] = config_.talker;
        g["stream"] = config_.flujo;
        g["bursts"] = receptor_->rafagas();
        g["cfg_msg_received"] = receptor_->cfg_msg_recibidos();
        g["ack"] = receptor_->acks();
        g["nak"] = receptor_->naks();
        g["pubx_replies"] = receptor_->respuestas_pubx();
        nlohmann::json tasas;
        for (const auto &t : receptor_->tasas()) tasas[std::to_string(t.first)] = t.second;
        g["nmea_rates"] = tasas;
        j["gps"] = g;
        nlohmann::json r;
        // Internal clock minus the world's UTC at the end, in whole seconds of the clock.
        if (desfase_valido_) r["offset_s"] = desfase_s_;
        else r["offset_s"] = nullptr;
        r["tick_period_counts"] = sim.placa().tcc0_periodo_actual();
        r["CTE_VELOCIDAD_RELOJ"] = velocidad_;
        r["corrections"] = correcciones_;
        j["clock"] = r;
    }

private:
    void consola(Simulacion &sim, uint8_t b, uint64_t ciclo)
    {
        if (b == '\r') return;
        if (b != '\n') {
            if (linea_.size() < 200) linea_.push_back((char)b);
            return;
        }
        static const std::string GPS = "CALCULO CON GPS:", SBG = "CALCULO MICRO vs SBG: ";
        if (linea_.rfind(GPS, 0) == 0)
            correcciones_.push_back({{"time_s", sim.placa().segundos_reales(ciclo)},
                                     {"kind", "gps"},
                                     {"period", std::atol(linea_.c_str() + GPS.size())}});
        else if (linea_.find(SBG) != std::string::npos)
            correcciones_.push_back({{"time_s", sim.placa().segundos_reales(ciclo)},
                                     {"kind", "sensor"},
                                     {"period", std::atol(linea_.c_str() + linea_.find(SBG) + SBG.size())}});
        linea_.clear();
    }

    std::string posicion_;
    std::vector<std::string> gps_;
    ConfiguracionGps config_;
    std::unique_ptr<ReceptorGps> receptor_;
    nlohmann::json correcciones_;
    std::string linea_;
    double desfase_s_ = 0;
    bool desfase_valido_ = false;
    int32_t velocidad_ = -1;
};

ExtensionGps extension;
RegistroExtension registro(&extension);

}  // namespace
