// A synthetic sea: a JONSWAP spectrum spread over directions with a cos-2s
// law, summed as random-phase components (deterministic with the seed). It
// gives the buoy's surface elevation and its horizontal velocity (deep-water
// orbital velocity plus a steady drift), and a slowly wandering yaw.
#ifndef SIMULADOR_DISPOSITIVOS_MAR_H
#define SIMULADOR_DISPOSITIVOS_MAR_H

#include <cstdint>
#include <string>
#include <vector>

struct ParametrosMar {
    double hs = 1.5;      // significant wave height Hm0, metres
    double tp = 8.0;      // peak period, seconds
    double dir = 45.0;    // compass direction the waves come from, degrees
    double spread = 25.0; // directional spread (circular standard deviation), degrees; 0: one direction
    double gamma = 3.3;   // JONSWAP peak enhancement
    uint64_t seed = 1;
    double drift_n = 0.0; // steady drift, m/s north
    double drift_e = 0.0; // and east
};

// Reads "hs=H,tp=T,dir=D,spread=S,gamma=G,seed=N[,drift=N,E]"; keys left out
// keep their defaults. Returns an empty text, or what is wrong.
std::string leer_parametros_mar(const std::string &texto, ParametrosMar &p);

class Mar {
public:
    explicit Mar(const ParametrosMar &p);
    struct Estado {
        double elevacion;  // metres, positive up
        double vn, ve;     // m/s
        double yaw;        // radians, -pi..pi
    };
    Estado en(double t) const;
    const ParametrosMar &parametros() const { return p_; }
    double m0() const { return m0_; }
    double hm0() const;
    size_t componentes() const { return a_.size(); }

private:
    ParametrosMar p_;
    std::vector<double> w_, a_, fase_, cn_, ce_;
    double m0_ = 0.0;
    double yaw0_ = 0.0, fase_yaw1_ = 0.0, fase_yaw2_ = 0.0;

    // The sensor asks for the sea at evenly spaced times: each component's
    // phase then turns by the same angle from one call to the next, a
    // rotation of its cosine and sine instead of a cosine of a large angle.
    // The phases are worked out afresh now and then, so rounding never
    // builds up.
    void fases_exactas(double t) const;
    mutable std::vector<double> cos_, sin_, giro_cos_, giro_sin_;
    mutable double t_ultimo_ = 0.0, paso_ = 0.0;
    mutable bool hay_ultimo_ = false;
    mutable int giros_ = 0;
};

// Deterministic generator (splitmix64), the same on every machine.
class Aleatorio {
public:
    explicit Aleatorio(uint64_t semilla) : s_(semilla) {}
    uint64_t siguiente();
    double uniforme();  // [0, 1)

private:
    uint64_t s_;
};

#endif
