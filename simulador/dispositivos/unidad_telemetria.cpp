#include "unidad_telemetria.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "../simulacion.h"
#include "../tiempo_texto.h"

std::string completar_trama(const std::string &trama)
{
    if (trama.find('*') != std::string::npos) return trama;
    uint8_t x = 0;
    for (size_t i = trama.empty() || trama[0] != '$' ? 0 : 1; i < trama.size(); i++) x ^= (uint8_t)trama[i];
    char suma[4];
    std::snprintf(suma, sizeof suma, "*%02X", x);
    return trama + suma;
}

std::vector<OrdenTelemetria> leer_guion_telemetria(const std::string &texto)
{
    std::vector<OrdenTelemetria> ordenes;
    std::istringstream entrada(texto);
    std::string linea;
    for (int numero = 1; std::getline(entrada, linea); numero++) {
        if (!linea.empty() && linea.back() == '\r') linea.pop_back();
        size_t inicio = linea.find_first_not_of(" \t");
        if (inicio == std::string::npos || linea[inicio] == '#') continue;
        size_t fin_tiempo = linea.find_first_of(" \t", inicio);
        std::string tiempo = linea.substr(inicio, fin_tiempo - inicio);
        auto segundos = segundos_de_texto(tiempo);
        size_t inicio_trama = fin_tiempo == std::string::npos ? std::string::npos : linea.find_first_not_of(" \t", fin_tiempo);
        if (!segundos || inicio_trama == std::string::npos)
            throw std::runtime_error("line " + std::to_string(numero) + ": expected 'TIME FRAME', got '" + linea + "'");
        std::string trama = linea.substr(inicio_trama);
        while (!trama.empty() && (trama.back() == ' ' || trama.back() == '\t')) trama.pop_back();
        OrdenTelemetria o;
        o.segundos = *segundos;
        if (trama.rfind("@baud", 0) == 0) {
            char *fin = nullptr;
            std::string valor = trama.substr(5);
            long b = std::strtol(valor.c_str(), &fin, 10);
            if (b <= 0 || b > 4000000 || fin == valor.c_str() || *fin != '\0')
                throw std::runtime_error("line " + std::to_string(numero) + ": bad rate in '" + trama + "'");
            o.baudios = (uint32_t)b;
        } else {
            o.trama = completar_trama(trama) + "\r\n";
        }
        ordenes.push_back(o);
    }
    return ordenes;
}

namespace {

uint32_t baudios_de_termios(speed_t v)
{
    static const struct { speed_t v; uint32_t b; } TABLA[] = {
        {B300, 300},       {B600, 600},       {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B921600, 921600},
    };
    for (const auto &t : TABLA)
        if (t.v == v) return t.b;
    return 0;
}

// The kernel's terminal settings with the rates as numbers (its termios2).
struct TermiosNumerico {
    tcflag_t iflag, oflag, cflag, lflag;
    cc_t linea, cc[19];
    speed_t ispeed, ospeed;
};

// The rate the terminal's other end asked for (0 when none can be read). A
// rate without a termios constant (14400, 28800, 56000) is set as a number
// (BOTHER), which tcgetattr cannot report; the kernel keeps every rate as a
// number too, so that is read first.
uint32_t baudios_pty(int fd)
{
    if (fd < 0) return 0;
    TermiosNumerico t2{};
    if (ioctl(fd, _IOR('T', 0x2A, TermiosNumerico), &t2) == 0 && t2.ospeed > 0) return t2.ospeed;
    termios t{};
    if (tcgetattr(fd, &t) != 0) return 0;
    return baudios_de_termios(cfgetospeed(&t));
}

class ExtensionTelemetria : public Extension {
public:
    void opciones(CLI::App &app) override
    {
        app.add_option("--tov-script", guion_, "telemetry script: lines 'TIME FRAME' or 'TIME @baud N'");
        app.add_flag("--tov-pty", pty_, "the telemetry link on a pseudo-terminal, at the rate its other end sets (implies --realtime)");
        app.add_option("--tov-babble", balbuceos_texto_,
                       "the telemetry unit sends random bytes without a 100 ms pause between two virtual times, "
                       "T1-T2 (repeatable)");
    }

    void validar(const Opciones &o) override
    {
        (void)o;
        balbuceos_.clear();
        for (const std::string &b : balbuceos_texto_) {
            size_t guion = b.find('-');
            auto t1 = guion == std::string::npos ? std::nullopt : segundos_de_texto(b.substr(0, guion));
            auto t2 = guion == std::string::npos ? std::nullopt : segundos_de_texto(b.substr(guion + 1));
            if (!t1 || !t2 || *t2 <= *t1) throw CLI::ValidationError("--tov-babble", "not an interval T1-T2: " + b);
            balbuceos_.emplace_back(*t1, *t2);
        }
        ordenes_.clear();
        if (guion_.empty()) return;
        std::ifstream f(guion_);
        if (!f) throw CLI::ValidationError("--tov-script", "cannot read " + guion_);
        std::stringstream s;
        s << f.rdbuf();
        try {
            ordenes_ = leer_guion_telemetria(s.str());
        } catch (const std::runtime_error &e) {
            throw CLI::ValidationError("--tov-script", guion_ + ": " + e.what());
        }
    }

    void preparar(Simulacion &sim) override
    {
        enviadas_ = 0;
        for (const OrdenTelemetria &o : ordenes_) {
            Simulacion *s = &sim;
            OrdenTelemetria orden = o;
            sim.placa().programar(sim.ciclo_de(o.segundos), [s, orden, this] {
                if (orden.baudios) {
                    s->telemetria().configurar_baudios(orden.baudios);
                } else {
                    s->telemetria().enviar(orden.trama, s->placa().ciclo());
                    enviadas_++;
                }
            });
        }
        if (pty_) abrir_pty(sim);
        bytes_balbuceo_ = 0;
        azar_.seed(20261207);
        for (const auto &b : balbuceos_) programar_balbuceo(sim, sim.ciclo_de(b.first), sim.ciclo_de(b.second));
    }

    void terminar(Simulacion &sim) override
    {
        (void)sim;
        if (maestro_ >= 0) close(maestro_);
        if (esclavo_ >= 0) close(esclavo_);
        maestro_ = esclavo_ = -1;
    }

    void resumen(Simulacion &sim, nlohmann::json &j) override
    {
        (void)sim;
        j["telemetry_frames_sent"] = enviadas_;
        j["telemetry_babble_bytes"] = bytes_balbuceo_;
    }

private:
    void abrir_pty(Simulacion &sim)
    {
        maestro_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (maestro_ < 0 || grantpt(maestro_) != 0 || unlockpt(maestro_) != 0)
            throw std::runtime_error("cannot open a pseudo-terminal");
        const char *nombre = ptsname(maestro_);
        if (!nombre) throw std::runtime_error("cannot name the pseudo-terminal");
        // Our own hold on the slave keeps the link up between clients, raw.
        esclavo_ = open(nombre, O_RDWR | O_NOCTTY);
        termios t{};
        if (esclavo_ >= 0 && tcgetattr(esclavo_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(esclavo_, TCSANOW, &t);
        }
        fcntl(maestro_, F_SETFL, fcntl(maestro_, F_GETFL) | O_NONBLOCK);
        std::printf("telemetry link on %s\n", nombre);
        std::fflush(stdout);
        int fd = maestro_;
        sim.telemetria().al_recibir([fd](uint8_t b, uint64_t) {
            ssize_t n = write(fd, &b, 1);
            (void)n;
        });
        programar_lectura(sim);
    }

    // Noise on the line, or a unit at another rate: runs of 1 to 32 random
    // bytes with pauses of 0 to 60 ms between them, so the line is never quiet
    // for 100 ms, from one cycle to another. The same seed at every run.
    void programar_balbuceo(Simulacion &sim, uint64_t desde, uint64_t hasta)
    {
        Simulacion *s = &sim;
        sim.placa().programar(desde, [s, this, hasta] {
            uint64_t ahora = s->placa().ciclo();
            if (ahora >= hasta) return;
            std::string trozo(1 + azar_() % 32, '\0');
            for (char &b : trozo) b = (char)(azar_() & 0xFF);
            s->telemetria().enviar(trozo, ahora);
            bytes_balbuceo_ += trozo.size();
            uint64_t pausa = s->ciclo_de(0.001 * (double)(azar_() % 61));
            uint64_t fin = std::max(ahora, s->placa().linea_libre(0));
            if (fin + pausa < hasta) programar_balbuceo(*s, fin + pausa, hasta);
        });
    }

    // The operator's bytes are taken every 5 ms of virtual time, at the rate
    // the program at the other end last set on the pseudo-terminal: as on a
    // real line, a rate other than the buoy's garbles the bytes both ways.
    void programar_lectura(Simulacion &sim)
    {
        Simulacion *s = &sim;
        sim.placa().programar(sim.placa().ciclo() + sim.ciclo_de(0.005), [s, this] {
            // Read at the wall-clock time it stands for: the bytes and the
            // rate are then as the operator's program left them by then.
            if (s->opciones().tiempo_real) s->acompasar();
            uint32_t b = baudios_pty(esclavo_);
            if (b) s->telemetria().configurar_baudios(b);
            uint8_t buf[256];
            ssize_t n;
            while (maestro_ >= 0 && (n = read(maestro_, buf, sizeof buf)) > 0) {
                s->telemetria().enviar(std::string(reinterpret_cast<char *>(buf), (size_t)n), s->placa().ciclo());
                enviadas_++;
            }
            if (maestro_ >= 0) programar_lectura(*s);
        });
    }

    std::string guion_;
    bool pty_ = false;
    std::vector<OrdenTelemetria> ordenes_;
    std::vector<std::string> balbuceos_texto_;
    std::vector<std::pair<double, double>> balbuceos_;
    std::mt19937 azar_;
    uint64_t bytes_balbuceo_ = 0;
    uint64_t enviadas_ = 0;
    int maestro_ = -1, esclavo_ = -1;
};

ExtensionTelemetria extension;
RegistroExtension registro(&extension);

}  // namespace
