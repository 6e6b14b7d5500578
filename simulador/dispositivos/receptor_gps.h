// A u-blox-like GPS receiver on Serial3 at 9600 baud, on the world's UTC: a
// burst of NMEA sentences once a second (or its sentences back to back without
// a pause), CFG-MSG configuration answered with
// ACK-ACK or ACK-NAK, "$PUBX,03" answered with a satellite status sentence,
// or the replay of a recorded NMEA capture.
#ifndef SIMULADOR_DISPOSITIVOS_RECEPTOR_GPS_H
#define SIMULADOR_DISPOSITIVOS_RECEPTOR_GPS_H

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "../../plataforma/host/placa_host.h"

class Simulacion;

struct ConfiguracionGps {
    double latitud = 43.50625;   // degrees, north positive
    double longitud = -8.61250;  // degrees, east positive
    double fix_tras_s = 40.0;    // true seconds after power-on before the first fix
    bool sin_fix = false;
    // Spells without a fix (true seconds from power-on), as under a heavy sky.
    std::vector<std::pair<double, double>> sin_fix_entre;
    bool mudo = false;           // sends nothing and answers nothing
    double mudo_hasta_s = 0.0;   // silent as above until then (true seconds), then alive
    // Its sentences back to back without a pause, as much as the line carries,
    // instead of one burst a second (a receiver set to a rate or a message
    // list that 9600 baud cannot carry).
    bool flujo = false;
    bool siempre_nak = false;    // answers every CFG-MSG with ACK-NAK
    std::string talker = "GP";
    std::string fichero_log;     // replay of a recorded capture instead of the model
};

// Cuts a recorded NMEA capture into the bursts of one second each: a new burst
// starts where the sentences' UTC changes; '#' lines are skipped, UBX frames
// are kept as they are. Exposed for the tests.
std::vector<std::string> rafagas_de_captura(const std::string &contenido);
// "$" + body + "*" + checksum + CR LF.
std::string sentencia_nmea(const std::string &cuerpo);

class ReceptorGps : public placa::DispositivoSerie {
public:
    ReceptorGps(Simulacion &sim, const ConfiguracionGps &config);
    ~ReceptorGps() override;

    void recibir(uint8_t byte, uint32_t baudios_placa, uint64_t ciclo) override;
    uint64_t proximo_evento() const override;
    void actuar(uint64_t ciclo) override;

    // Every byte the buoy sent to the receiver is kept in <out>/gps_commands.bin.
    void vaciar();
    uint64_t rafagas() const { return rafagas_; }
    uint64_t cfg_msg_recibidos() const { return cfg_msg_; }
    uint64_t acks() const { return acks_; }
    uint64_t naks() const { return naks_; }
    uint64_t respuestas_pubx() const { return pubx_; }
    uint64_t ubx_desconocidos() const { return ubx_otros_; }
    // Output rate per NMEA message id (class 0xF0) after the configuration.
    const std::map<uint8_t, uint8_t> &tasas() const { return tasas_; }

private:
    struct Pendiente {
        uint64_t ciclo;
        std::string bytes;
    };
    std::string rafaga_modelo(int64_t utc, bool con_fix) const;
    void mensaje_ubx(const std::vector<uint8_t> &m, uint64_t ciclo);
    void linea_nmea(const std::string &linea, uint64_t ciclo);
    void responder(const std::string &bytes, uint64_t ciclo);
    uint64_t ciclo_rafaga(uint64_t n) const;
    bool callado(uint64_t ciclo) const;
    void siguiente_sentencia(uint64_t ciclo);

    Simulacion &sim_;
    FILE *fichero_ = nullptr;
    ConfiguracionGps config_;
    std::vector<std::string> captura_;
    std::map<uint8_t, uint8_t> tasas_;
    std::deque<Pendiente> pendientes_;
    uint64_t siguiente_rafaga_ = 0;  // index of the next second's burst
    // Streaming: the next sentence goes on the line when the line is free.
    uint64_t ciclo_sentencia_ = 0;
    size_t indice_sentencia_ = 0;
    // The cycle of the burst last asked for: the board asks for the next event
    // at every tick, and the answer only changes once a second.
    mutable uint64_t rafaga_calculada_ = UINT64_MAX;
    mutable uint64_t ciclo_calculado_ = 0;
    std::vector<uint8_t> ubx_;
    std::string texto_;
    uint64_t rafagas_ = 0, cfg_msg_ = 0, acks_ = 0, naks_ = 0, pubx_ = 0, ubx_otros_ = 0;
};

#endif
