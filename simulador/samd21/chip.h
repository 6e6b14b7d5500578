// The ATSAMD21J18A of the buoy, emulated: a Cortex-M0+ core (Unicorn) running
// the very image that would be flashed, and the peripherals the image uses,
// modelled from the chip's datasheet behind their register addresses. The
// world around the chip (the devices on its serial ports, the card, the
// watchers of its pins) is the same as the host board's: the chip reaches it
// through placa::Placa, which keeps the virtual time (one instruction, one
// cycle of the 48 MHz clock) and the world's events.
//
// Anything the image touches that is not modelled stops the run with the
// address and the program counter: a silent 0 would hide the very driver bug
// the emulator is there to find.
#ifndef SIMULADOR_SAMD21_CHIP_H
#define SIMULADOR_SAMD21_CHIP_H

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "../../plataforma/host/placa_host.h"
#include "elf.h"
#include "tarjeta_spi.h"

struct uc_struct;

namespace samd21 {

constexpr uint32_t FLASH_BYTES = 256 * 1024;
constexpr uint32_t RAM_BASE = 0x20000000u;
constexpr uint32_t RAM_BYTES = 32 * 1024;
constexpr uint32_t APLICACION = 0x2000u;        // the application's vector table (after the bootloader)
constexpr uint32_t EEPROM_BASE = 0x3FC00u;      // flash rows of the emulated EEPROM
constexpr uint32_t EEPROM_BYTES = 1024;
constexpr uint32_t FILA_USUARIO = 0x00804000u;  // NVM user row
constexpr uint32_t FILA_USUARIO_BYTES = 64;
constexpr uint32_t PAGINA_NVM = 64;
constexpr uint32_t FILA_NVM = 256;

// The run cannot go on: an access to something not modelled, a fault the
// emulator does not take, a register used against the datasheet's rules.
struct ParadaEmulador : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reasons of a chip reset, as summary.json reports them (the host board's too).
constexpr const char *CAUSA_RESET_SISTEMA = "firmware_stop";  // SYSRESETREQ or a wrong watchdog clear key
constexpr const char *CAUSA_LOCKUP = "lockup";                // a fault inside the fault handler

class Chip;

class Chip {
public:
    Chip(placa::Placa &mundo, const std::string &ruta_elf, const std::string &ruta_flash);
    ~Chip();
    Chip(const Chip &) = delete;
    Chip &operator=(const Chip &) = delete;

    // A reset of the chip (power-on, watchdog, system reset): the peripherals
    // go back to their reset values and the core starts at the application's
    // reset vector; the flash and the RAM's contents stay.
    void reiniciar(bool encendido);
    // Runs the core with the world around it until the world or the chip ends
    // the boot: throws placa::FinSimulacion, placa::ReinicioPlaca (a watchdog,
    // a system reset, a power cut) or ParadaEmulador.
    void ejecutar();

    // Host address of a firmware global (RAM or flash), nullptr when absent.
    void *simbolo(const char *nombre);
    const ImagenElf &imagen() const { return imagen_; }

    // ---- figures
    uint64_t instrucciones() const { return instrucciones_; }
    uint64_t ciclos_dormido() const { return ciclos_dormido_; }
    uint64_t monticulo_en_uso() const;
    uint64_t monticulo_pico() const { return monticulo_pico_; }
    uint32_t monticulo_rechazos();
    // Lowest stack pointer reached since power-on (by the words the stack wrote).
    uint32_t pila_mas_baja();
    uint64_t ticks_tcc0() const { return tcc0_.coincidencias; }
    uint64_t escrituras_fila_usuario() const { return nvm_.escrituras_fila_usuario; }
    uint64_t borrados_eeprom() const { return nvm_.borrados_eeprom; }
    // Instructions executed by each function and module since the last call.
    nlohmann::json perfil(uint64_t epocas);
    nlohmann::json resumen();
    // One line per distinct register access, sorted by address.
    void escribir_registro_mmio(const std::string &ruta) const;
    void registrar_mmio(bool si) { registrar_mmio_ = si; }

    // Module of each function, for the figures by module (from the link map).
    void modulos_de_funciones(std::map<std::string, std::string> m) { modulo_de_funcion_ = std::move(m); }

private:
    // ---- core
    void mapear_memoria();
    void ejecutar_tramo(uint64_t limite);
    void atender_eventos();
    uint64_t proximo_evento() const;
    bool tomar_excepcion();
    void entrar_excepcion(int numero);
    void salir_excepcion(uint32_t destino);
    int prioridad_excepcion(int numero) const;
    int prioridad_actual() const;
    int excepcion_pendiente(bool ignorar_primask) const;
    bool irq_linea(int irq) const;
    [[noreturn]] void parar(const std::string &motivo, uint32_t direccion);
    uint32_t leer_reg(int reg) const;
    void escribir_reg(int reg, uint32_t valor);
    uint32_t leer32_ram(uint32_t direccion);
    void escribir32_ram(uint32_t direccion, uint32_t valor);
    uint64_t ahora() const;  // the cycle of the instruction being executed
    void sincronizar_mundo();

public:
    // ---- memory-mapped registers (called by the engine's MMIO callbacks)
    uint64_t leer_mmio(uint32_t direccion, unsigned ancho);
    void escribir_mmio(uint32_t direccion, unsigned ancho, uint64_t valor);
    // Flash region writes (the NVM page buffer).
    uint64_t leer_nvm_espacio(uint32_t direccion, unsigned ancho);
    void escribir_nvm_espacio(uint32_t direccion, unsigned ancho, uint64_t valor);
    void gancho_bloque(uint32_t direccion, uint32_t bytes);
    uint32_t instrucciones_bloque(uint32_t direccion, uint32_t bytes);
    void reprogramar_tramo();
    void acceso_no_mapeado(uint32_t direccion, bool escritura);

private:
    uint32_t leer_registro(uint32_t base_periferico, uint32_t reg);
    void escribir_registro(uint32_t base_periferico, uint32_t reg, uint32_t valor, uint32_t mascara);
    int anchura_registro(uint32_t direccion, uint32_t &inicio) const;
    int anchura_registro_tabla(uint32_t direccion, uint32_t &inicio) const;

    // ---- peripherals
    void port_escribir(int grupo, uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t port_leer(int grupo, uint32_t reg);
    void pines_cambiados();
    int nivel_pin(int grupo, int numero) const;
    bool pin_funcion(int grupo, int numero, int funcion) const;

    double hz_generador(int gen) const;
    double hz_periferico(int id_clkctrl) const;

    struct Sercom;
    void sercom_escribir(int n, uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t sercom_leer(int n, uint32_t reg);
    void sercom_reset(int n);
    void usart_evento(int n);
    void usart_llegadas(int n);
    uint32_t usart_baudios(int n) const;
    bool usart_tx_conectada(int n) const;
    bool usart_rx_conectada(int n) const;
    uint8_t spi_transferir(uint8_t byte);

    void tcc0_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t tcc0_leer(uint32_t reg);
    uint32_t tcc0_cuenta() const;
    void tcc0_programar();
    uint64_t tcc0_ciclos_por_cuenta() const;

    void wdt_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t wdt_leer(uint32_t reg);
    void wdt_programar();

    void nvm_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t nvm_leer(uint32_t reg);
    void nvm_comando(uint32_t cmd);
    void nvm_cargar_fichero();
    void nvm_guardar_fichero();

    void systick_escribir(uint32_t reg, uint32_t valor);
    uint32_t systick_leer(uint32_t reg);
    uint32_t scs_leer(uint32_t direccion);
    void scs_escribir(uint32_t direccion, uint32_t valor);

    void gclk_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t gclk_leer(uint32_t reg);
    void sysctrl_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t sysctrl_leer(uint32_t reg);
    void pm_escribir(uint32_t reg, uint32_t valor, uint32_t mascara);
    uint32_t pm_leer(uint32_t reg);
    void aviso_sincronizacion(const char *registro);
    bool reloj_bus_apbc(int bit) const { return (pm_.apbcmask >> bit) & 1u; }

    placa::Placa &mundo_;
    ImagenElf imagen_;
    std::string ruta_flash_;
    uc_struct *uc_ = nullptr;
    std::vector<uint8_t> flash_;
    uint8_t *ram_ = nullptr;
    std::vector<uint8_t> fila_usuario_;
    std::vector<uint32_t> perfil_;       // instructions per halfword address of the flash
    std::vector<uint32_t> perfil_base_;  // at the previous report
    std::vector<uint32_t> cuenta_bloque_;  // block size << 16 | its instructions, by start address

    // chunk state
    uint64_t tramo_inicio_ = 0;
    uint64_t tramo_n_ = 0;
    uint64_t tramo_limite_ = 0;
    uint64_t estancado_ = 0;  // cycles the core stalled on the flash in this chunk
    bool parar_tramo_ = false;
    bool en_tramo_ = false;
    std::exception_ptr excepcion_mundo_;
    uint8_t rcause_pendiente_ = 0x01;
    uint64_t excepciones_tomadas_ = 0;
    uint64_t tramos_ = 0;
    bool pintada_ = false;
    std::map<std::string, std::string> modulo_de_funcion_;
    static constexpr uint32_t PINTURA = 0xC5AC5AC5u;
    bool retorno_excepcion_ = false;
    uint32_t destino_retorno_ = 0;
    bool dormido_ = false;
    std::string error_;
    uint32_t error_direccion_ = 0;
    bool reinicio_pendiente_ = false;
    std::string causa_reinicio_;
    uint64_t instrucciones_ = 0;
    uint64_t ciclos_dormido_ = 0;
    uint64_t monticulo_pico_ = 0;
    bool registrar_mmio_ = false;
    std::map<std::tuple<uint32_t, unsigned, char>, uint64_t> registro_mmio_;
    uint64_t violaciones_sincronizacion_ = 0;
    uint64_t escrituras_protegidas_ = 0;
    std::vector<std::string> avisos_;

    // core exception state
    struct Activa { int numero; };
    std::vector<Activa> activas_;
    uint32_t nvic_iser_ = 0, nvic_ispr_ = 0;
    uint32_t nvic_ipr_[8] = {};
    uint32_t vtor_ = APLICACION;
    uint32_t shpr2_ = 0, shpr3_ = 0, scr_ = 0;
    bool pendsv_ = false, pendst_ = false;
    struct Systick { uint32_t csr = 0, rvr = 0; uint64_t origen = 0; uint32_t cvr_parado = 0; bool countflag = false; uint64_t proximo = placa::NUNCA; } systick_;

    struct Pm { uint8_t rcause = 1, sleep = 0, cpusel = 0, apbasel = 0, apbbsel = 0, apbcsel = 0; uint32_t ahbmask = 0x7F, apbamask = 0x7F, apbbmask = 0x7F, apbcmask = 0x00010000; } pm_;
    struct Sysctrl { uint32_t osc8m = 0x00000382, osc32k = 0x003F0080, xosc32k = 0x0080, dfllctrl = 0x0080, dfllval = 0, dfllmul = 0, osculp32k = 0x1F; uint32_t inten = 0, bod33 = 0, vreg = 0x0002, vref = 0; uint64_t dfll_listo = 0, xosc32k_listo = 0, osc32k_listo = 0; } sysctrl_;
    struct Gclk { uint32_t genctrl[9] = {}, gendiv[9] = {}; uint16_t clkctrl[0x25] = {}; uint8_t id_gen = 0, id_div = 0, id_clk = 0; uint64_t ocupado_hasta = 0; } gclk_;
    struct Wdt { uint8_t ctrl = 0, config = 0xBB, ewctrl = 0x0B, inten = 0; uint64_t vence = placa::NUNCA, ventana_hasta = 0, ocupado_hasta = 0; } wdt_;
    struct Nvm { uint32_t ctrlb = 0, addr = 0; uint16_t status = 0, lock = 0xFFFF; uint8_t intflag_error = 0, inten = 0; uint8_t buffer[PAGINA_NVM]; bool buffer_cargado = false; uint64_t escrituras_fila_usuario = 0, borrados_eeprom = 0, paginas_escritas = 0; } nvm_;
    struct Tcc0 { uint32_t ctrla = 0, intenset = 0, intflag = 0, wave = 0, per = 0xFFFFFF, cc[4] = {}, perb = 0xFFFFFF, ctrlb = 0, dbgctrl = 0, evctrl = 0, drvctrl = 0; bool perb_valido = false; uint64_t origen = 0, prox_mc0 = placa::NUNCA, prox_ovf = placa::NUNCA, ocupado_hasta = 0; uint64_t coincidencias = 0; } tcc0_;

    struct Sercom {
        uint32_t ctrla = 0, ctrlb = 0, baud = 0, intenset = 0, dbgctrl = 0, addr = 0;
        uint8_t rxpl = 0;
        uint16_t status = 0;
        bool txc = false, rxs = false, error = false;
        uint64_t ocupado_hasta = 0;
        // USART transmitter: the data register and the shift register.
        bool dato_tx_lleno = false;
        uint8_t dato_tx = 0;
        uint64_t fin_tx = 0;
        bool tx_en_curso = false;
        // receiver: the two-level buffer and the shift register
        std::vector<uint16_t> rx;
        uint64_t perdidos_tx = 0;
    } sercom_[6];

    struct PuertoPines { uint32_t dir = 0, out = 0, ctrl = 0; uint8_t pmux[16] = {}, pincfg[32] = {}; } port_[2];
    int salida_notificada_[2][32];

    TarjetaSpi tarjeta_;
    bool cs_tarjeta_ = true;
    uint32_t pila_reserva_ = 0, pila_tope_ = 0, monticulo_base_ = 0, dir_ruptura_ = 0, dir_rechazos_ = 0;
    uint32_t sp_mas_bajo_ = 0xFFFFFFFFu;
};

}  // namespace samd21

#endif
