// The ATSAMD21J18A of the buoy, emulated: a Cortex-M0+ core (Unicorn) running
// the very image that would be flashed, and the peripherals the image uses,
// modelled from the chip's datasheet behind their register addresses, one
// model per peripheral (pm.h, sysctrl.h, gclk.h, wdt.h, nvmctrl.h, port.h,
// sercom.h with sercom_usart.h and sercom_spi.h, tcc.h, systick.h). This class
// is the core: the runs of the engine, the exceptions with the NVIC and the
// SCB, the register map that routes an access to its model, and the board's
// wiring around the chip (Entorno). The world around the chip (the devices on
// its serial ports, the card, the watchers of its pins) is the same as the
// host board's: the chip reaches it through mundo::Mundo (simulador/mundo/),
// which keeps the virtual time (one instruction, one cycle of the 48 MHz
// clock) and the world's events.
//
// Anything the image touches that is not modelled stops the run with the
// address and the program counter: a silent 0 would hide the very driver bug
// the emulator is there to find.
#ifndef SIMULADOR_SAMD21_CHIP_H
#define SIMULADOR_SAMD21_CHIP_H

#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "../mundo/mundo.h"
#include "bootloader.h"
#include "elf.h"
#include "entorno.h"
#include "gclk.h"
#include "nvmctrl.h"
#include "pm.h"
#include "osciladores.h"
#include "port.h"
#include "reinicios.h"
#include "sercom.h"
#include "sysctrl.h"
#include "systick.h"
#include "tarjeta_spi.h"
#include "tcc.h"
#include "tipo_reset.h"
#include "wdt.h"

struct uc_struct;

namespace samd21 {

constexpr uint32_t RAM_BASE = 0x20000000u;
constexpr uint32_t RAM_BYTES = 32 * 1024;
constexpr uint32_t APLICACION = 0x2000u;  // the application's vector table (after the bootloader)

class Chip : private Entorno {
public:
    Chip(mundo::Mundo &mundo, const std::string &ruta_elf, const std::string &ruta_flash);
    ~Chip() override;
    Chip(const Chip &) = delete;
    Chip &operator=(const Chip &) = delete;

    // A reset of the chip: every model goes back to its values for that kind
    // of reset and the core starts at the application's reset vector; the
    // flash and the RAM's contents stay.
    void reiniciar(TipoReset tipo);
    // After a power-on, or after the reset the chip itself asked for (the
    // watchdog, a system reset request).
    void reiniciar(bool encendido) { reiniciar(encendido ? TipoReset::encendido : reset_pendiente_); }
    // The kind of the reset the chip itself asked for (the watchdog, a system reset request).
    TipoReset reset_pedido() const { return reset_pendiente_; }
    // The bootloader in front of the application and the oscillators'
    // errors (the DFLL48M's is taken from the world's clock); before the
    // first reset.
    void configurar_arranque(ModoBootloader modo, const ErroresOsciladores &errores);
    // The supply dips below BOD33's level now: a brown-out reset when the
    // fuses arm BOD33 with its reset action, else nothing (false).
    bool caida_tension();
    // Runs the core with the world around it until the world or the chip ends
    // the boot: throws mundo::FinSimulacion, mundo::ReinicioPlaca (a watchdog,
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
    uint64_t ticks_tcc0() const { return tcc0_.coincidencias(); }
    uint64_t escrituras_fila_usuario() const { return nvmctrl_.escrituras_fila_usuario(); }
    uint64_t borrados_eeprom() const { return nvmctrl_.borrados_eeprom(); }
    // Instructions executed by each function and module since the last call.
    nlohmann::json perfil(uint64_t epocas);
    nlohmann::json resumen();
    // One line per distinct register access, sorted by address.
    void escribir_registro_mmio(const std::string &ruta) const;
    void registrar_mmio(bool si) { registrar_mmio_ = si; }

    // Module of each function, for the figures by module (from the link map).
    void modulos_de_funciones(std::map<std::string, std::string> m) { modulo_de_funcion_ = std::move(m); }

    // ---- called by the engine's callbacks
    uint64_t leer_mmio(uint32_t direccion, unsigned ancho);
    void escribir_mmio(uint32_t direccion, unsigned ancho, uint64_t valor);
    // The NVM space behind the controller (EEPROM rows, auxiliary space).
    uint64_t leer_nvm_espacio(uint32_t direccion, unsigned ancho);
    void escribir_nvm_espacio(uint32_t direccion, unsigned ancho, uint64_t valor);
    void gancho_bloque(uint32_t direccion, uint32_t bytes);
    void acceso_no_mapeado(uint32_t direccion, bool escritura);
    void interrupcion_motor(uint32_t numero);

private:
    // Exception returns: the core branches to the EXC_RETURN value; on the chip
    // that is 0xFFFFFFxx, which the engine cannot fetch from (execute-never on
    // M-profile), so the link register gets the same low byte in a page of our
    // own, and fetching there is the return.
    static constexpr uint32_t PAGINA_RETORNO = 0x0FFFFC00u;
    static constexpr uint32_t BYTES_PAGINA_RETORNO = 0x400;
    // Interrupt lines of the NVIC.
    static constexpr int IRQ_SERCOM0 = 9, IRQ_TCC0 = 15;

    // ---- core (chip.cpp)
    void mapear_memoria();
    void ejecutar_tramo(uint64_t limite);
    void atender_eventos();
    uint64_t proximo_evento() const;
    void reprogramar_tramo();
    uint32_t instrucciones_bloque(uint32_t direccion, uint32_t bytes);
    uint32_t leer_reg(int reg) const;
    void escribir_reg(int reg, uint32_t valor);
    uint32_t leer32_ram(uint32_t direccion);
    void escribir32_ram(uint32_t direccion, uint32_t valor);
    void sincronizar_mundo();

    // ---- exceptions, NVIC and SCB (excepciones.cpp)
    bool tomar_excepcion();
    void entrar_excepcion(int numero);
    void salir_excepcion(uint32_t destino);
    int prioridad_excepcion(int numero) const;
    int prioridad_actual() const;
    int excepcion_pendiente(bool ignorar_primask) const;
    bool irq_linea(int irq) const;
    uint32_t scs_leer(uint32_t direccion);
    void scs_escribir(uint32_t direccion, uint32_t valor);
    void reiniciar_nucleo(TipoReset tipo);

    // ---- the register map (registros.cpp)
    uint32_t leer_registro(uint32_t direccion);
    void escribir_registro(uint32_t direccion, uint32_t valor, uint32_t mascara);
    int anchura_registro(uint32_t direccion, uint32_t &inicio) const;
    void parar_por_excepcion();  // in a handler: the access that threw ends the run

    // ---- Entorno: what the models see of the chip and the board (cableado.cpp)
    uint64_t ahora() const override;  // the cycle of the instruction being executed
    double hz_ciclos() const override { return mundo_.hz_real(); }
    void detener(const std::string &motivo, uint32_t direccion) override;
    void aviso_sincronizacion(const char *registro) override;
    void escritura_protegida() override { escrituras_protegidas_++; }
    void aviso(const std::string &texto) override;
    void pedir_reinicio(const char *causa, TipoReset tipo) override;
    void estancar(uint64_t ciclos) override;
    void relojes_cambiados() override;
    int nivel_externo(int grupo, int pin) const override;
    void pines_cambiados() override;
    uint64_t usart_transmitir(int sercom, uint8_t byte, uint32_t baudios) override;
    uint8_t spi_intercambiar(int sercom, uint32_t ctrla, uint8_t salida) override;
    void tcc0_periodo(uint32_t per) override { mundo_.tcc0_periodo(per); }
    long long corte_en_escritura() override { return mundo_.tomar_corte_en_commit(); }
    void cortar() override;
    // The board's wiring of a SERCOM to the world's serial ports.
    int puerto_de(int sercom) const;
    bool usart_tx_conectada(int sercom) const;
    bool usart_rx_conectada(int sercom) const;
    void usart_llegadas(int sercom);

    mundo::Mundo &mundo_;
    ImagenElf imagen_;
    uc_struct *uc_ = nullptr;
    std::vector<uint8_t> flash_;
    uint8_t *ram_ = nullptr;
    std::vector<uint32_t> perfil_;       // instructions per halfword address of the flash
    std::vector<uint32_t> perfil_base_;  // at the previous report
    std::vector<uint32_t> cuenta_bloque_;  // block size << 16 | its instructions, by start address

    // ---- the peripherals
    Pm pm_;
    Sysctrl sysctrl_;
    Gclk gclk_;
    Nvmctrl nvmctrl_;
    Wdt wdt_;
    Port port_;
    std::vector<Sercom> sercom_;
    Tcc tcc0_;
    Systick systick_;
    TarjetaSpi tarjeta_;
    bool cs_tarjeta_ = true;
    int salida_notificada_[2][32];

    // chunk state
    uint64_t tramo_inicio_ = 0;
    uint64_t tramo_n_ = 0;
    uint64_t tramo_limite_ = 0;
    uint64_t estancado_ = 0;  // cycles the core stalled on the flash in this chunk
    bool parar_tramo_ = false;
    bool en_tramo_ = false;
    std::exception_ptr excepcion_mundo_;
    TipoReset reset_pendiente_ = TipoReset::encendido;
    uint64_t excepciones_tomadas_ = 0;
    uint64_t tramos_ = 0;
    bool pintada_ = false;
    std::map<std::string, std::string> modulo_de_funcion_;
    static constexpr uint32_t PINTURA = 0xC5AC5AC5u;
    bool retorno_excepcion_ = false;  // the run reached the exception return page
    bool excepcion_motor_ = false;    // the engine raised SVC, UDF or BKPT
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

    uint32_t pila_reserva_ = 0, pila_tope_ = 0, monticulo_base_ = 0, dir_ruptura_ = 0, dir_rechazos_ = 0;
    uint32_t sp_mas_bajo_ = 0xFFFFFFFFu;

    // ---- the bootloader (chip.cpp): waiting, or keeping the board
    void decidir_arranque(TipoReset tipo);
    void arrancar_aplicacion();
    ModoBootloader modo_bootloader_ = ModoBootloader::doble_toque;
    ErroresOsciladores errores_;
    bool en_bootloader_ = false;
    uint64_t bootloader_hasta_ = NUNCA;   // the end of the double-tap wait (NUNCA: it stays)
    RegistroReinicios reinicios_;
};

}  // namespace samd21

#endif
