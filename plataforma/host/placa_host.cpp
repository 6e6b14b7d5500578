#include "placa_host.h"
#include "../sd/SdFat.h"

#include "monticulo_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace placa {

namespace {
Placa *g_placa = nullptr;

constexpr uint32_t MODO_SALIDA = 1;
constexpr uint32_t MODO_PULLUP = 2;

uint32_t crc32(const uint8_t *datos, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        crc ^= datos[i];
        for (int b = 0; b < 8; b++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// One slot of the EEPROM's flash file: two slots are kept, a commit writes the
// older one and its validity mark last, so a cut commit leaves the other intact.
constexpr uint32_t MAGIA_EEPROM = 0x31454F4Fu;   // "OOE1"
constexpr uint32_t MARCA_VALIDA = 0xA5C3A5C3u;
constexpr size_t BYTES_RANURA = 4 + 4 + Placa::EEPROM_BYTES + 4 + 4;

void poner32(uint8_t *p, uint32_t v) { for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i)); }
uint32_t tomar32(const uint8_t *p) { uint32_t v = 0; for (int i = 3; i >= 0; i--) v = (v << 8) | p[i]; return v; }

struct Ranura {
    bool valida = false;
    uint32_t secuencia = 0;
    const uint8_t *datos = nullptr;
};

Ranura leer_ranura(const std::vector<uint8_t> &fichero, int i)
{
    Ranura r;
    size_t base = (size_t)i * BYTES_RANURA;
    if (fichero.size() < base + BYTES_RANURA) return r;
    const uint8_t *p = fichero.data() + base;
    if (tomar32(p) != MAGIA_EEPROM) return r;
    if (tomar32(p + BYTES_RANURA - 4) != MARCA_VALIDA) return r;
    if (tomar32(p + 8 + Placa::EEPROM_BYTES) != crc32(p + 4, 4 + Placa::EEPROM_BYTES)) return r;
    r.valida = true;
    r.secuencia = tomar32(p + 4);
    r.datos = p + 8;
    return r;
}

std::vector<uint8_t> leer_fichero(const std::string &ruta)
{
    std::vector<uint8_t> v;
    if (ruta.empty()) return v;
    FILE *f = std::fopen(ruta.c_str(), "rb");
    if (!f) return v;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}
}  // namespace

Placa &actual() { return *g_placa; }
void instalar(Placa *placa) { g_placa = placa; }


Placa::Placa() { recalcular(); }

void Placa::configurar_xtal_ppm(double ppm)
{
    ppm_ = ppm;
    hz_real_ = (double)HZ_NOMINAL * (1.0 + ppm * 1e-6);
}

double Placa::segundos_reales(uint64_t ciclo) const { return (double)ciclo / hz_real_; }

uint64_t Placa::ciclo_de_segundos_reales(double segundos) const
{
    if (segundos <= 0) return 0;
    return (uint64_t)std::llround(segundos * hz_real_);
}

uint64_t Placa::ciclos_por_byte(uint32_t baudios) const
{
    if (baudios == 0) return 1;
    return (uint64_t)std::llround(10.0 * hz_real_ / (double)baudios);
}

void Placa::programar_corte(uint64_t ciclo)
{
    cortes_.push_back(ciclo);
    std::sort(cortes_.begin(), cortes_.end());
    recalcular();
}

void Placa::programar(uint64_t ciclo, std::function<void()> accion)
{
    acciones_.emplace(ciclo, std::move(accion));
    recalcular();
}

void Placa::vaciar_salidas()
{
    uint64_t fin = ciclo_;
    for (const Puerto &q : puertos_)
        if (!q.salida.empty()) fin = std::max(fin, q.salida.back().llegada);
    avanzar_hasta(fin);
}

// ------------------------------------------------------------------ time and events

uint64_t Placa::periodo_tick_ciclos() const
{
    static const uint32_t divisores[8] = {1, 2, 4, 8, 16, 64, 256, 1024};
    return ((uint64_t)tcc0_.periodo + 1) * divisores[tcc0_.prescaler & 7];
}

void Placa::recalcular()
{
    uint64_t p = ciclo_fin_;
    if (!cortes_.empty()) p = std::min(p, cortes_.front());
    if (!acciones_.empty()) p = std::min(p, acciones_.begin()->first);
    if (wdt_.activo) p = std::min(p, wdt_.vence);
    if (tcc0_.activo && !en_isr_) p = std::min(p, tcc0_.proximo);
    for (const Puerto &q : puertos_) {
        if (!q.salida.empty()) p = std::min(p, q.salida.front().llegada);
        if (q.dispositivo) p = std::min(p, q.dispositivo->proximo_evento());
    }
    proximo_ = p;
}

// Bytes that reached the board's UART by now go into its receive buffer.
// Arrivals are not events of their own: nothing can see a byte before the
// firmware looks at its port, and every look delivers first, so handing them
// over late gives the same buffer, the same drops and the same order.
void Placa::entregar_llegadas(int p)
{
    Puerto &q = puertos_[p];
    while (!q.entrada.empty() && q.entrada.front().llegada <= ciclo_) {
        Byte b = q.entrada.front();
        q.entrada.pop_front();
        if (q.baudios == 0) {
            q.estadisticas.bytes_puerto_cerrado++;
        } else if (q.rx.size() >= capacidad_rx_) {
            q.estadisticas.bytes_descartados++;
        } else {
            q.rx.push_back(byte_recibido(b.valor, b.baudios, q.baudios));
            q.estadisticas.bytes_recibidos++;
        }
    }
}

void Placa::procesar_puertos()
{
    for (int i = 0; i < NUM_PUERTOS; i++) {
        Puerto &q = puertos_[i];
        for (int vueltas = 0; q.dispositivo && vueltas < 1000; vueltas++) {
            uint64_t t = q.dispositivo->proximo_evento();
            if (t > ciclo_) break;
            q.dispositivo->actuar(t);
        }
        if (!llegadas_externas_) entregar_llegadas(i);
        while (!q.salida.empty() && q.salida.front().llegada <= ciclo_) {
            Byte b = q.salida.front();
            q.salida.pop_front();
            if (q.dispositivo) q.dispositivo->recibir(b.valor, b.baudios, b.llegada);
        }
    }
}

void Placa::disparar_tick()
{
    tcc0_.ticks++;
    if (tcc0_.flag_mc0) tcc0_.perdidos++;
    tcc0_.flag_mc0 = true;
    tcc0_.proximo += periodo_tick_ciclos();
    if (!(tcc0_.int_mc0 && tcc0_.irq_nvic) || !isr_) return;
    en_isr_ = true;
    recalcular();
    isr_();
    en_isr_ = false;
}

void Placa::procesar()
{
    if (base_pila_) {
        char aqui;
        uintptr_t p = reinterpret_cast<uintptr_t>(&aqui);
        if (p < base_pila_ && base_pila_ - p > pila_maxima_) pila_maxima_ = base_pila_ - p;
    }
    if (ciclo_ >= ciclo_fin_) throw FinSimulacion{};
    if (!cortes_.empty() && cortes_.front() <= ciclo_) {
        uint64_t c = cortes_.front();
        cortes_.erase(cortes_.begin());
        throw ReinicioPlaca{CAUSA_CORTE, c};
    }
    if (wdt_.activo && wdt_.vence <= ciclo_) {
        uint64_t c = wdt_.vence;
        wdt_.activo = false;
        throw ReinicioPlaca{CAUSA_WATCHDOG, c};
    }
    while (!acciones_.empty() && acciones_.begin()->first <= ciclo_) {
        auto accion = std::move(acciones_.begin()->second);
        acciones_.erase(acciones_.begin());
        accion();
    }
    procesar_puertos();
    if (!en_isr_) {
        // Ticks that came due while the loop was inside one long board call run
        // one after another now; the clock therefore never loses a tick.
        while (tcc0_.activo && tcc0_.proximo <= ciclo_) disparar_tick();
    }
    recalcular();
}

void Placa::avanzar_hasta(uint64_t ciclo)
{
    while (proximo_ <= ciclo) {
        if (proximo_ > ciclo_) ciclo_ = proximo_;
        procesar();
    }
    if (ciclo > ciclo_) ciclo_ = ciclo;
}


void Placa::esperar_evento(uint64_t limite)
{
    uint64_t destino = std::min(proximo_, limite);
    if (destino == NUNCA || destino > ciclo_ + HZ_NOMINAL) destino = ciclo_ + HZ_NOMINAL / 1000;
    if (destino < ciclo_ + COSTE_LLAMADA) destino = ciclo_ + COSTE_LLAMADA;
    avanzar_hasta(destino);
}

void Placa::parada_hasta_watchdog()
{
    // A stop before the firmware armed the watchdog: the runtime arms it
    // with its 2 s period, as the chip's does.
    uint64_t vence = wdt_.activo ? wdt_.vence : ciclo_ + ciclo_de_segundos_reales(2.0);
    wdt_.activo = false;
    recalcular();
    if (vence > ciclo_) avanzar_hasta(vence - 1);
    throw ReinicioPlaca{CAUSA_PARADA_FIRMWARE, vence};
}

void Placa::reinicio_hardware()
{
    if (!llegadas_externas_)
        for (int i = 0; i < NUM_PUERTOS; i++) entregar_llegadas(i);
    for (Puerto &q : puertos_) {
        q.baudios = 0;
        q.rx.clear();
        q.salida.clear();
        q.fin_linea_salida = ciclo_;
    }
    for (Pin &p : pines_) p = Pin{};
    uint64_t ticks = tcc0_.ticks, perdidos = tcc0_.perdidos;
    tcc0_ = Tcc0{};
    tcc0_.ticks = ticks;
    tcc0_.perdidos = perdidos;
    wdt_ = Wdt{};
    en_isr_ = false;
    nvm_.status = 0;
    nvm_.ctrlb = 0;
    nvm_.addr = 0;
    eeprom_.cargada = false;
    eeprom_.cambiada = false;
    monticulo_liberar_todo();
    sd_reinicio_flujos();
    recalcular();
}

// ------------------------------------------------------------------ serial ports

void Placa::uart_begin(int p, uint32_t baudios)
{
    avanzar(COSTE_LLAMADA);
    entregar_llegadas(p);
    puertos_[p].baudios = baudios;
}

void Placa::uart_end(int p)
{
    uart_flush(p);
    entregar_llegadas(p);
    puertos_[p].baudios = 0;
    puertos_[p].rx.clear();
}

int Placa::uart_available(int p)
{
    avanzar(COSTE_LLAMADA);
    Puerto &q = puertos_[p];
    entregar_llegadas(p);
    if (q.rx.empty()) {
        esperar_evento(q.entrada.empty() ? NUNCA : q.entrada.front().llegada);
        entregar_llegadas(p);
    }
    return (int)q.rx.size();
}

int Placa::uart_read(int p)
{
    avanzar(COSTE_LLAMADA);
    entregar_llegadas(p);
    Puerto &q = puertos_[p];
    if (q.rx.empty()) return -1;
    uint8_t b = q.rx.front();
    q.rx.pop_front();
    return b;
}

int Placa::uart_peek(int p)
{
    avanzar(COSTE_LLAMADA);
    entregar_llegadas(p);
    Puerto &q = puertos_[p];
    return q.rx.empty() ? -1 : q.rx.front();
}

void Placa::uart_write(int p, uint8_t byte)
{
    avanzar(COSTE_LLAMADA);
    Puerto &q = puertos_[p];
    if (q.baudios == 0) return;
    if (observador_escrituras_) observador_escrituras_(p, byte);
    while (q.salida.size() >= CAPACIDAD_TX) avanzar_hasta(q.salida.front().llegada);
    uint64_t inicio = std::max(ciclo_, q.fin_linea_salida);
    uint64_t llegada = inicio + ciclos_por_byte(q.baudios);
    q.salida.push_back({llegada, byte, q.baudios});
    q.fin_linea_salida = llegada;
    q.estadisticas.bytes_enviados++;
    if (llegada < proximo_) proximo_ = llegada;
}

void Placa::uart_flush(int p)
{
    avanzar(COSTE_LLAMADA);
    if (!puertos_[p].salida.empty()) avanzar_hasta(puertos_[p].fin_linea_salida);
}

bool Placa::tomar_llegada(int p, uint8_t &valor, uint32_t &baudios)
{
    Puerto &q = puertos_[p];
    if (q.entrada.empty() || q.entrada.front().llegada > ciclo_) return false;
    valor = q.entrada.front().valor;
    baudios = q.entrada.front().baudios;
    q.entrada.pop_front();
    return true;
}

uint64_t Placa::transmitir(int p, uint8_t byte, uint32_t baudios)
{
    Puerto &q = puertos_[p];
    if (observador_escrituras_) observador_escrituras_(p, byte);
    uint64_t inicio = std::max(ciclo_, q.fin_linea_salida);
    uint64_t llegada = inicio + ciclos_por_byte(baudios);
    q.salida.push_back({llegada, byte, baudios});
    q.fin_linea_salida = llegada;
    q.estadisticas.bytes_enviados++;
    if (llegada < proximo_) proximo_ = llegada;
    return llegada;
}

void Placa::enviar_a_placa(int p, const uint8_t *datos, size_t cantidad, uint32_t baudios, uint64_t ciclo_inicio)
{
    Puerto &q = puertos_[p];
    uint64_t t = std::max(ciclo_inicio, q.fin_linea_entrada);
    uint64_t duracion = ciclos_por_byte(baudios);
    for (size_t i = 0; i < cantidad; i++) {
        t += duracion;
        q.entrada.push_back({t, datos[i], baudios});
    }
    q.fin_linea_entrada = t;
}

// ------------------------------------------------------------------ pins

void Placa::pin_modo(uint32_t pin, uint32_t modo)
{
    avanzar(COSTE_LLAMADA);
    if (pin < NUM_PINES) pines_[pin].modo = modo;
}

void Placa::pin_escribir(uint32_t pin, uint32_t nivel)
{
    avanzar(COSTE_LLAMADA);
    if (pin >= NUM_PINES) return;
    int n = nivel ? 1 : 0;
    if (pines_[pin].salida != n) {
        pines_[pin].salida = n;
        if (observador_pines_ && pines_[pin].modo == MODO_SALIDA) observador_pines_(pin, n, ciclo_);
    }
}

int Placa::pin_leer(uint32_t pin)
{
    avanzar(COSTE_LLAMADA);
    if (pin >= NUM_PINES) return 0;
    const Pin &p = pines_[pin];
    if (p.modo == MODO_SALIDA) return p.salida;
    int externo = nivel_externo_ ? nivel_externo_(pin, ciclo_) : -1;
    if (externo >= 0) return externo ? 1 : 0;
    return p.modo == MODO_PULLUP ? 1 : 0;
}

// ------------------------------------------------------------------ TCC0

void Placa::tcc0_activar(bool activo)
{
    avanzar(COSTE_LLAMADA);
    tcc0_.activo = activo;
    if (activo) tcc0_.proximo = ciclo_ + periodo_tick_ciclos();
    recalcular();
}

void Placa::tcc0_reset()
{
    avanzar(COSTE_LLAMADA);
    uint64_t ticks = tcc0_.ticks, perdidos = tcc0_.perdidos;
    bool nvic = tcc0_.irq_nvic;
    uint16_t gclk = tcc0_.gclk;
    tcc0_ = Tcc0{};
    tcc0_.ticks = ticks;
    tcc0_.perdidos = perdidos;
    tcc0_.irq_nvic = nvic;
    tcc0_.gclk = gclk;
    recalcular();
}

// ------------------------------------------------------------------ watchdog

void Placa::wdt_enable(int codigo)
{
    avanzar(COSTE_LLAMADA);
    if (codigo < 1) codigo = 1;
    if (codigo > 11) codigo = 11;
    double segundos = std::ldexp(1.0, codigo - 7);
    wdt_.activo = true;
    wdt_.periodo = ciclo_de_segundos_reales(segundos);
    wdt_.vence = ciclo_ + wdt_.periodo;
    recalcular();
}

void Placa::wdt_reset()
{
    avanzar(COSTE_LLAMADA);
    if (!wdt_.activo) return;
    // A feed only moves the deadline later: the next event changes only when
    // the deadline was it.
    bool era_proximo = proximo_ == wdt_.vence;
    wdt_.vence = ciclo_ + wdt_.periodo;
    if (era_proximo) recalcular();
}

// ------------------------------------------------------------------ NVM

void Placa::nvm_comando(uint32_t ctrla)
{
    avanzar(COSTE_LLAMADA * 100);
    if ((ctrla & 0xFF00) != 0xA500) {
        nvm_.status |= 0x04;  // PROGE: command without the key
        return;
    }
    if (nvm_.rechazo) {
        nvm_.status |= nvm_.rechazo;
        return;
    }
    // The user row by its 16-bit word address, with or without the
    // auxiliary space's top bit (0x402000 or 0x2000).
    bool fila_usuario = (nvm_.addr & 0x3FFFFFu) == 0x2000u;
    switch (ctrla & 0x7F) {
    case 0x05:  // EAR: erase the auxiliary (user) row
        if (!fila_usuario) {
            nvm_.status |= 0x04;
            break;
        }
        for (uint32_t &w : nvm_.fila) w = 0xFFFFFFFFu;
        nvm_.borrados++;
        break;
    case 0x44:  // PBC: page buffer clear
        for (uint32_t &w : nvm_.buffer_pagina) w = 0xFFFFFFFFu;
        break;
    case 0x06:  // WAP: write auxiliary page; flash bits can only go from 1 to 0
        if (!fila_usuario) {
            nvm_.status |= 0x04;
            break;
        }
        for (int i = 0; i < 16; i++) nvm_.fila[i] &= nvm_.buffer_pagina[i];
        for (uint32_t &w : nvm_.buffer_pagina) w = 0xFFFFFFFFu;
        nvm_.escrituras++;
        break;
    default:
        nvm_.status |= 0x04;  // a command this board does not take
        break;
    }
}

// ------------------------------------------------------------------ EEPROM

void Placa::eeprom_cargar()
{
    if (eeprom_.cargada) return;
    eeprom_.cargada = true;
    eeprom_.cambiada = false;
    std::memset(eeprom_.ram, 0, sizeof eeprom_.ram);
    std::vector<uint8_t> f = leer_fichero(ruta_eeprom_);
    Ranura a = leer_ranura(f, 0), b = leer_ranura(f, 1);
    const Ranura *mejor = nullptr;
    if (a.valida && (!b.valida || a.secuencia >= b.secuencia)) mejor = &a;
    else if (b.valida) mejor = &b;
    eeprom_.valida = mejor != nullptr;
    if (mejor) std::memcpy(eeprom_.ram, mejor->datos, EEPROM_BYTES);
}

uint8_t Placa::eeprom_read(int direccion)
{
    avanzar(COSTE_LLAMADA);
    eeprom_cargar();
    if (direccion < 0 || direccion >= EEPROM_BYTES) return 0;
    return eeprom_.ram[direccion];
}

void Placa::eeprom_write(int direccion, uint8_t valor)
{
    avanzar(COSTE_LLAMADA);
    eeprom_cargar();
    if (direccion < 0 || direccion >= EEPROM_BYTES) return;
    if (eeprom_.ram[direccion] != valor) {
        eeprom_.ram[direccion] = valor;
        eeprom_.cambiada = true;
    }
}

bool Placa::eeprom_is_valid()
{
    avanzar(COSTE_LLAMADA);
    eeprom_cargar();
    return eeprom_.valida;
}

void Placa::eeprom_commit()
{
    avanzar(COSTE_LLAMADA);
    eeprom_cargar();
    if (!eeprom_.cambiada) return;
    // A page write takes a few milliseconds of flash programming.
    avanzar(HZ_NOMINAL / 250);
    std::vector<uint8_t> f = leer_fichero(ruta_eeprom_);
    Ranura a = leer_ranura(f, 0), b = leer_ranura(f, 1);
    int destino = 0;
    uint32_t secuencia = 1;
    if (a.valida && (!b.valida || a.secuencia >= b.secuencia)) { destino = 1; secuencia = a.secuencia + 1; }
    else if (b.valida) { destino = 0; secuencia = b.secuencia + 1; }
    f.resize(2 * BYTES_RANURA, 0xFF);
    uint8_t ranura[BYTES_RANURA];
    poner32(ranura, MAGIA_EEPROM);
    poner32(ranura + 4, secuencia);
    std::memcpy(ranura + 8, eeprom_.ram, EEPROM_BYTES);
    poner32(ranura + 8 + EEPROM_BYTES, crc32(ranura + 4, 4 + EEPROM_BYTES));
    poner32(ranura + BYTES_RANURA - 4, MARCA_VALIDA);
    size_t escribir = BYTES_RANURA;
    bool corte = false;
    if (eeprom_.corte_en_commit >= 0) {
        escribir = std::min((size_t)eeprom_.corte_en_commit, BYTES_RANURA);
        corte = true;
        eeprom_.corte_en_commit = -1;
        // The erased slot reads as 0xFF where the cut stopped the programming.
        std::memset(f.data() + destino * BYTES_RANURA, 0xFF, BYTES_RANURA);
    }
    std::memcpy(f.data() + destino * BYTES_RANURA, ranura, escribir);
    if (!ruta_eeprom_.empty()) {
        FILE *out = std::fopen(ruta_eeprom_.c_str(), "wb");
        if (out) {
            std::fwrite(f.data(), 1, f.size(), out);
            std::fclose(out);
        }
    }
    eeprom_.commits++;
    if (corte) throw ReinicioPlaca{CAUSA_CORTE, ciclo_};
    eeprom_.cambiada = false;
    eeprom_.valida = true;
}

}  // namespace placa
