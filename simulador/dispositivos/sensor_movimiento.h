// The SBG inertial motion sensor on Serial2: once per epoch a burst of
// class-0 sbgECom logs (ship motion, EKF navigation, EKF Euler) taken from a
// synthetic sea, or the replay of a recorded byte stream. Its microsecond
// time stamp runs on true world time, not on the MCU's oscillator.
#ifndef SIMULADOR_DISPOSITIVOS_SENSOR_MOVIMIENTO_H
#define SIMULADOR_DISPOSITIVOS_SENSOR_MOVIMIENTO_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../plataforma/host/placa_host.h"
#include "mar.h"

namespace sbg {
constexpr uint8_t LOG_EKF_EULER = 6;
constexpr uint8_t LOG_EKF_NAV = 8;
constexpr uint8_t LOG_SHIP_MOTION = 9;
uint16_t crc(const uint8_t *datos, size_t n);  // CRC-16/KERMIT
// Sync bytes, identifier, class, length, payload, CRC (low byte first), 0x33.
std::vector<uint8_t> trama(uint8_t id, uint8_t clase, const std::vector<uint8_t> &carga);
}  // namespace sbg

struct ConfigSensor {
    double hz = 10.0;
    double inicio_s = 3.0;
    bool protocolo_actual = false;  // EKF Euler with a 40-byte payload
    uint64_t reloj_inicial_us = 0;  // sensor counter at virtual time 0
    double reloj_ppm = 0;           // the sensor's own oscillator error
    double mar_desde_s = 0;         // the sea's time at virtual time 0 (a world that goes on)
    // Faults, as probabilities per frame (corrupt, drop) or per epoch.
    double p_corrupto = 0.0, p_perdida = 0.0, p_segunda_nav = 0.0, p_tiempo_cero = 0.0, p_nan = 0.0;
    uint64_t semilla_fallos = 1;
    std::string registro;  // raw byte stream as sent
    std::string verdad;    // per-epoch truth, CSV
    std::string replay;    // raw byte stream to replay instead of the sea
};

struct CuentasSensor {
    uint64_t epocas = 0, tramas = 0, bytes = 0, corruptas = 0, perdidas = 0, segundas_nav = 0, tiempos_cero = 0,
             nan = 0, epocas_completas = 0;
};

class SensorMovimiento : public placa::DispositivoSerie {
public:
    // mar is null in a replay.
    SensorMovimiento(placa::Placa &placa, const ConfigSensor &c, const Mar *mar);
    ~SensorMovimiento() override;
    void recibir(uint8_t, uint32_t, uint64_t) override {}
    uint64_t proximo_evento() const override { return proximo_; }
    void actuar(uint64_t ciclo) override;
    const CuentasSensor &cuentas() const { return cuentas_; }
    size_t rafagas_replay() const { return rafagas_.size(); }
    // Called before every burst (the simulator reads the firmware's counts).
    std::function<void()> al_actuar;
    void cerrar_ficheros();

private:
    struct Rafaga {
        int64_t t_us;  // virtual time of its first byte
        std::vector<uint8_t> bytes;
        size_t tramas;
    };
    void preparar_replay();
    void enviar_epoca();
    uint64_t ciclo_de_us(int64_t t_us) const;

    placa::Placa &placa_;
    ConfigSensor c_;
    const Mar *mar_;
    Aleatorio fallos_;
    int64_t periodo_us_, inicio_us_;
    uint64_t epoca_ = 0;
    uint64_t proximo_ = placa::NUNCA;
    std::vector<Rafaga> rafagas_;
    FILE *registro_ = nullptr;
    FILE *verdad_ = nullptr;
    CuentasSensor cuentas_;
};

#endif
