#include "mar.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {
constexpr double PI = 3.14159265358979323846;
constexpr int COMPONENTES = 400;
constexpr double F_MIN = 0.02, F_MAX = 0.7;

double jonswap(double f, double fp, double gamma)
{
    double sigma = f <= fp ? 0.07 : 0.09;
    double r = std::exp(-(f - fp) * (f - fp) / (2.0 * sigma * sigma * fp * fp));
    return std::pow(f, -5.0) * std::exp(-1.25 * std::pow(fp / f, 4.0)) * std::pow(gamma, r);
}
}  // namespace

uint64_t Aleatorio::siguiente()
{
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double Aleatorio::uniforme() { return (double)(siguiente() >> 11) * (1.0 / 9007199254740992.0); }

std::string leer_parametros_mar(const std::string &texto, ParametrosMar &p)
{
    std::vector<std::string> partes;
    std::stringstream ss(texto);
    for (std::string t; std::getline(ss, t, ',');) partes.push_back(t);
    auto numero = [](const std::string &t, double &v) {
        char *fin = nullptr;
        v = std::strtod(t.c_str(), &fin);
        return !t.empty() && fin != nullptr && *fin == '\0' && std::isfinite(v);
    };
    for (size_t i = 0; i < partes.size(); i++) {
        size_t igual = partes[i].find('=');
        if (igual == std::string::npos) return "expected key=value: " + partes[i];
        std::string clave = partes[i].substr(0, igual), valor = partes[i].substr(igual + 1);
        double v;
        if (clave == "drift") {
            double e;
            if (i + 1 >= partes.size() || !numero(valor, v) || !numero(partes[i + 1], e))
                return "drift needs two numbers, north and east m/s: drift=N,E";
            p.drift_n = v;
            p.drift_e = e;
            i++;
            continue;
        }
        if (!numero(valor, v)) return "not a number: " + partes[i];
        if (clave == "hs") {
            if (v < 0 || v > 30) return "hs out of range 0..30 m";
            p.hs = v;
        } else if (clave == "tp") {
            if (v < 2 || v > 25) return "tp out of range 2..25 s";
            p.tp = v;
        } else if (clave == "dir") {
            p.dir = std::fmod(std::fmod(v, 360.0) + 360.0, 360.0);
        } else if (clave == "spread") {
            if (v < 0 || v > 80) return "spread out of range 0..80 degrees";
            p.spread = v;
        } else if (clave == "gamma") {
            if (v < 1 || v > 10) return "gamma out of range 1..10";
            p.gamma = v;
        } else if (clave == "seed") {
            if (v < 0 || v != std::floor(v)) return "seed must be a whole number";
            p.seed = (uint64_t)v;
        } else {
            return "unknown key: " + clave;
        }
    }
    return "";
}

Mar::Mar(const ParametrosMar &p) : p_(p)
{
    Aleatorio rnd(p.seed * 0x2545F4914F6CDD1DULL + 7);
    double fp = 1.0 / p.tp;
    double df = (F_MAX - F_MIN) / COMPONENTES;
    // cos-2s law D(d) ~ cos^(2s)(d/2), with s from the circular spread.
    double sigma = p.spread * PI / 180.0;
    double s = sigma > 0.005 ? 2.0 / (sigma * sigma) - 1.0 : -1.0;
    double suma = 0.0;
    std::vector<double> densidad;
    for (int i = 0; i < COMPONENTES; i++) {
        double f = F_MIN + ((double)i + rnd.uniforme()) * df;
        double d = jonswap(f, fp, p.gamma) * df;
        densidad.push_back(d);
        suma += d;
        w_.push_back(2.0 * PI * f);
        fase_.push_back(2.0 * PI * rnd.uniforme());
        double desvio = 0.0;
        if (s > 0) {
            for (int intento = 0; intento < 100000; intento++) {
                double x = PI * (2.0 * rnd.uniforme() - 1.0);
                if (rnd.uniforme() <= std::pow(std::cos(x / 2.0), 2.0 * s)) {
                    desvio = x;
                    break;
                }
            }
        }
        // Waves travel away from the direction they come from.
        double hacia = (p.dir + 180.0) * PI / 180.0 + desvio;
        cn_.push_back(std::cos(hacia));
        ce_.push_back(std::sin(hacia));
    }
    // Scale so that 4 sqrt(m0) of the discrete spectrum is hs.
    double m0_objetivo = (p.hs / 4.0) * (p.hs / 4.0);
    for (double d : densidad) {
        double si = suma > 0 ? d * m0_objetivo / suma : 0.0;
        a_.push_back(std::sqrt(2.0 * si));
        m0_ += si;
    }
    yaw0_ = 2.0 * PI * rnd.uniforme() - PI;
    fase_yaw1_ = 2.0 * PI * rnd.uniforme();
    fase_yaw2_ = 2.0 * PI * rnd.uniforme();
}

double Mar::hm0() const { return 4.0 * std::sqrt(m0_); }

void Mar::fases_exactas(double t) const
{
    cos_.resize(a_.size());
    sin_.resize(a_.size());
    for (size_t i = 0; i < a_.size(); i++) {
        cos_[i] = std::cos(w_[i] * t + fase_[i]);
        sin_[i] = std::sin(w_[i] * t + fase_[i]);
    }
    giros_ = 0;
}

Mar::Estado Mar::en(double t) const
{
    // A step within a nanosecond of the last one is the same step.
    const double TOLERANCIA_PASO_S = 1e-9;
    const int GIROS_ENTRE_FASES_EXACTAS = 600;
    double paso = t - t_ultimo_;
    if (!hay_ultimo_ || !(paso > 0.0) || giros_ >= GIROS_ENTRE_FASES_EXACTAS) {
        fases_exactas(t);
    } else if (std::fabs(paso - paso_) > TOLERANCIA_PASO_S) {
        paso_ = paso;
        giro_cos_.resize(a_.size());
        giro_sin_.resize(a_.size());
        for (size_t i = 0; i < a_.size(); i++) {
            giro_cos_[i] = std::cos(w_[i] * paso);
            giro_sin_[i] = std::sin(w_[i] * paso);
        }
        fases_exactas(t);
    } else {
        for (size_t i = 0; i < a_.size(); i++) {
            double c = cos_[i] * giro_cos_[i] - sin_[i] * giro_sin_[i];
            double s = sin_[i] * giro_cos_[i] + cos_[i] * giro_sin_[i];
            cos_[i] = c;
            sin_[i] = s;
        }
        giros_++;
    }
    hay_ultimo_ = true;
    t_ultimo_ = t;

    Estado e{0.0, p_.drift_n, p_.drift_e, 0.0};
    for (size_t i = 0; i < a_.size(); i++) {
        double c = a_[i] * cos_[i];
        e.elevacion += c;
        // Deep water: the surface orbital velocity is w*a along the direction
        // of travel, in phase with the elevation.
        double u = w_[i] * c;
        e.vn += u * cn_[i];
        e.ve += u * ce_[i];
    }
    double yaw = yaw0_ + (20.0 * PI / 180.0) * std::sin(2.0 * PI * t / 900.0 + fase_yaw1_) +
                 (5.0 * PI / 180.0) * std::sin(2.0 * PI * t / 97.0 + fase_yaw2_);
    e.yaw = std::remainder(yaw, 2.0 * PI);
    return e;
}
