// Start-up and the main loop: one pass services, always in this order, the
// time banner, the SD card, the sensor port, the GPS port and the telemetry
// link, then the daily reset review and a commanded reset.
#include "principal.h"

#include <string.h>

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../gestion_sd/gestion_sd.h"
#include "../modulo_gps/modulo_gps.h"
#include "../sensor/sensor.h"
#include "../tov03/tov03.h"
#include "../virtual_e2prom/virtual_e2prom.h"
#include "../waves/waves.h"

#define NVM_STATUS_SB (1u << 8)
#define NVM_STATUS_ERRORES 0x1Cu   // PROGE, LOCKE, NVME; write 1 to clear
#define NVM_CTRLB_CACHEDIS (1u << 18)
#define NVM_DIRECCION_FILA_USUARIO 0x402000u
#define NVM_CMD_EAR 0xA505u
#define NVM_CMD_PBC 0xA544u
#define NVM_CMD_WAP 0xA506u
#define NVM_PALABRAS_PAGINA_FILA 16u

// A port that never falls silent must not hold a pass. The sensor port is read
// once a pass; while the pass is elsewhere the sensor's epochs (177 bytes each,
// ten a second) wait in the port, and once more than 1024 bytes wait, the
// burst that reads them is cut and a frame is lost. So the GPS burst and the
// telemetry command are bounded besides their silences, by time and by what
// their buffers hold, which keeps a pass away from the sensor port for less
// than half a second (five epochs, 885 bytes) even when both lines babble:
// - GPS: the burst ends when the 256-byte buffer is full (267 ms of a line
//   that never pauses at 9600 baud) or 300 ms after it began (bytes that
//   trickle with gaps shorter than 20 ms). Bytes not read stay in the port and
//   are read as the next burst: the sentence cut in two fails its checksum or
//   its name test like any damaged sentence, and the sentences after it are
//   used. A receiver's own burst once a second (about 200 bytes when it is
//   configured, 250 with two GSA) is never cut.
// - Telemetry: the command ends 150 ms after it began at the latest; bytes
//   beyond the 128th are still read and dropped (a command of 128 bytes takes
//   33 ms at 38400 baud, 133 ms at 9600). Babble thus makes frames that fail
//   their checksum and change nothing, and a command sent once the line is
//   quiet again is read whole.
#define LIMITE_RAFAGA_GPS_MS 300u
#define LIMITE_TRAMA_TOV03_MS 150u

static void modos_entradas()
{
    pinMode(21, INPUT);
    pinMode(15, INPUT);
    pinMode(20, INPUT);
    pinMode(39, INPUT_PULLUP);
    pinMode(40, INPUT_PULLUP);
    pinMode(41, INPUT_PULLUP);
    pinMode(42, INPUT_PULLUP);
    pinMode(28, INPUT_PULLUP);
}

static void modos_pines()
{
    pinMode(17, OUTPUT);
    pinMode(35, OUTPUT);
    pinMode(32, OUTPUT);
    pinMode(33, OUTPUT);
    modos_entradas();
}

// Fuses of the user row's first two words, the only fields the firmware
// sets; every other bit (the factory's reserved settings, the EEPROM size,
// the watchdog's period, window and early warning, the region locks) keeps
// what the row holds:
// - BOOTPROT (word 0, bits 2:0) = 2: the first 8 kB, the bootloader, cannot
//   be erased or written by the application;
// - BOD33 level 7 (bits 13:8), enabled (bit 14), action reset (bits 16:15):
//   a sagging supply resets the board instead of running it at a voltage
//   where the flash may be misread;
// - the watchdog's enable (bit 25) and always-on (bit 26) off. The board's
//   bootloader waits half a second at every reset that is not a power-on
//   before it starts the application, and stays for good when a reset comes
//   inside that wait. A watchdog armed by the fuses runs from the reset clock,
//   the ultra-low-power oscillator undivided: its longest period, 16384
//   cycles, is 0.5 s and shorter on a fast oscillator, so it fires inside the
//   wait and the buoy never starts again. The start-up arms the watchdog
//   itself, in its own clock, as soon as the clocks are running.
// New values apply from the next reset.
#define FUSIBLES0_MASCARA 0x0601FF07u
#define FUSIBLES0_VALOR 0x0000C702u

uint32_t fusibles_deseados_palabra0(uint32_t actual)
{
    return (actual & ~FUSIBLES0_MASCARA) | FUSIBLES0_VALOR;
}

static void traza_fallo_nvm(const char *orden, uint32_t status)
{
    Serial1.print("Error NVM fila usuario (");
    Serial1.print(orden);
    Serial1.print("). STATUS = 0x");
    Serial1.println((unsigned int)status, HEX);
}

// One command of the NVM controller on the user row; false, traced, when the
// controller refuses it (PROGE: a command or address it does not take,
// LOCKE: a locked region, NVME: the programming failed).
static bool orden_fila_usuario(uint32_t orden, const char *nombre)
{
    while (!nvm_intflag_ready()) {
    }
    nvm_escribir_status(NVM_STATUS_ERRORES);
    nvm_escribir_addr(NVM_DIRECCION_FILA_USUARIO);
    nvm_escribir_ctrla(orden);
    while (!nvm_intflag_ready()) {
    }
    uint32_t status = nvm_leer_status();
    if (status & NVM_STATUS_ERRORES) {
        traza_fallo_nvm(nombre, status);
        nvm_escribir_status(NVM_STATUS_ERRORES);
        return false;
    }
    return true;
}

// The row is read, changed in its fuse fields and written back whole (its
// first page): erase, page buffer clear, the page, write. A command refused
// is traced and the rewrite given up for this boot; a failure after the erase
// leaves an erased row, which the next boot writes again.
void revision_fila_usuario_nvm()
{
    if (nvm_leer_status() & NVM_STATUS_SB) return;
    uint32_t pagina[NVM_PALABRAS_PAGINA_FILA];
    for (uint8_t i = 0; i < NVM_PALABRAS_PAGINA_FILA; i++) pagina[i] = nvm_leer_fila_usuario(i);
    uint32_t deseada = fusibles_deseados_palabra0(pagina[0]);
    if (deseada == pagina[0]) return;
    pagina[0] = deseada;
    uint32_t ctrlb = nvm_leer_ctrlb();
    nvm_escribir_ctrlb(ctrlb | NVM_CTRLB_CACHEDIS);
    bool ok = orden_fila_usuario(NVM_CMD_EAR, "EAR") && orden_fila_usuario(NVM_CMD_PBC, "PBC");
    if (ok) {
        for (uint8_t i = 0; i < NVM_PALABRAS_PAGINA_FILA; i++) nvm_escribir_fila_usuario(i, pagina[i]);
        ok = orden_fila_usuario(NVM_CMD_WAP, "WAP");
    }
    while (!nvm_intflag_ready()) {
    }
    nvm_escribir_ctrlb(ctrlb);
    if (ok && nvm_leer_fila_usuario(0) != deseada) traza_fallo_nvm("verificacion", nvm_leer_status());
}

extern "C" void setup(void)
{
    // The console is opened first so that the first line is not lost.
    Serial1.begin(115200);
    Serial1.println("   SETUP   ");

    pinMode(17, OUTPUT);
    digitalWrite(17, HIGH);
    pinMode(35, OUTPUT);
    pinMode(32, OUTPUT);
    pinMode(33, OUTPUT);
    digitalWrite(17, LOW);
    digitalWrite(35, LOW);
    digitalWrite(32, HIGH);
    digitalWrite(33, HIGH);
    modos_entradas();

    revision_fila_usuario_nvm();

    configureTCC0(48000, 1);

    Serial1.begin(115200);
    Serial2.begin(115200);

    lectura_de_variables();

    if (Establecer_Baudrate_TOV() == 0) Serial.begin(38400);

    Serial3.begin(9600);

    sodaq_wdt_enable(WDT_PERIOD_2X);

    mensaje_bienvenida();

    Inicializar();

    cpeticion_nueva_hora = 1;
    cfecha_capturada = 0;
    cgps_configurado = 0;
    cestado_gps = 1;
    ctarjeta_sd_inicializada = 0;
}

void configuracion_pines_bucle() { modos_pines(); }

static void linea_asteriscos(uint8_t n)
{
    for (uint8_t i = 0; i < n; i++) Serial1.write((uint8_t)'*');
    Serial1.println();
}

void mostrar_hora_si_toca()
{
    if (cmostramos_hora != 1) return;
    linea();
    linea_asteriscos(63);
    Serial1.print("\t\t");
    transmito_variable(cdia_utc, 2, '/');
    transmito_variable(cmes_utc, 2, '/');
    transmito_variable(cano_utc, 2, '\t');
    transmito_variable(chora_utc, 2, ':');
    transmito_variable(cminuto_utc, 2, ':');
    transmito_variable(csegundo_utc, 2, FIN_LINEA);
    linea_asteriscos(63);
    cmostramos_hora = 0;
}

void servicio_sd()
{
    if (csegundos_retardo_gestion_sd != 0 || CTE_PERMITIR_ESCRITURA_SD == 0) return;
    if (ctarjeta_sd_inicializada == 0) {
        inicializacion_sd();
        return;
    }
    if (cfecha_capturada == 0) return;
    if (ccreacion_nuevo_directorio == 1) {
        creacion_nuevo_directorio();
        return;
    }
    for (uint8_t k = 0; k < 3; k++) {
        uint8_t s = ccreacion_nuevo_fichero[k];
        if (s == 3) {
            if (k == 2) continue;
            cierre_fichero_intervalo(k);
            ccreacion_nuevo_fichero[k] = 1;
        } else if (s == 1) {
            creacion_nuevo_fichero(k);
        } else if (s != 0 && cescritura_sd[k] == 1) {
            escritura_registro_fichero(k);
            cescritura_sd[k] = 0;
        }
    }
}

void recepcion_sensor()
{
    if (Serial2.available() <= 0) return;
    icantidad_bytes_rx_sensor = 0;
    cbuffer_sensor_lleno = 0;
    do {
        sodaq_wdt_reset();
        if (Serial2.available() > 0) {
            while (cbuffer_sensor_lleno == 0 && Serial2.available() > 0) {
                sodaq_wdt_reset();
                uint8_t byte = (uint8_t)Serial2.read();
                if (icantidad_bytes_rx_sensor >= TAM_TRAMA_SENSOR)
                    cbuffer_sensor_lleno = 1;
                else
                    ctrama_sensor_rx[icantidad_bytes_rx_sensor++] = byte;
            }
            ctimeout_rx_sensor = 2;
        }
    } while (ctimeout_rx_sensor != 0 && cbuffer_sensor_lleno == 0);
    resSbgOk = 1;
    procesamos_trama_rx_sensor();
    cbuffer_sensor_lleno = 0;
}

void servicio_gps()
{
    if (cpeticion_nueva_hora == 0) {
        cgps_configurado = 0;
        cestado_gps = 1;
        return;
    }
    // A record waiting for the telemetry link goes out in this pass's
    // telemetry step; the GPS port is left for the next pass, and the
    // receiver keeps its configuration (configuring it again at every record
    // held the sensor port for over a second with a receiver that answers,
    // and for 20 s with a dead one, each time).
    if (cdatos_tx_tov03 != 0) return;
    if (cgps_configurado != 1) {
        chora_gps = cminuto_gps = csegundo_gps = 0;
        cdia_gps = cmes_gps = cano_gps = 0;
        memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
        linea();
        Serial1.println("Configurando tramas GPS");
        if (cgps_configurado == 0) rutina_configuracion_gps();
        cgps_configurado = 1;
        Serial1.println("Tramas necesarias configuradas");
        return;
    }
    if (Serial3.available() <= 0) return;
    // A receiver that sent nothing at all while it was being configured (no
    // power, a cut cable) and is heard now is configured again.
    if (cgps_mudo == 1) {
        cgps_configurado = 0;
        return;
    }
    ibytes_recibidos_trama_gps = 0;
    uint32_t inicio = millis();
    do {
        sodaq_wdt_reset();
        if (Serial3.available() > 0) {
            while (Serial3.available() > 0 && ibytes_recibidos_trama_gps < TAM_TRAMA_GPS)
                ctrama_rx_gps[ibytes_recibidos_trama_gps++] = (uint8_t)Serial3.read();
            ctimeout_entre_bytes_tramas_gps = 20;
        }
    } while (ctimeout_entre_bytes_tramas_gps != 0 && ibytes_recibidos_trama_gps < TAM_TRAMA_GPS &&
             millis() - inicio < LIMITE_RAFAGA_GPS_MS);
    procesamos_trama_rx_gps();
}

// The pending text ends at its zero byte, and never beyond its buffer.
static void enviar_texto_tov03(HardwareSerial &puerto)
{
    for (uint32_t i = 0; i < TAM_BUFFER_TOV03 && cbuffer_tov03[i] != '\0'; i++)
        puerto.write((uint8_t)cbuffer_tov03[i]);
}

// The text waiting in cbuffer_tov03 goes out on the link (and, when asked, on
// the console), and the buffer is free again.
void envio_texto_pendiente_tov03()
{
    if (cdatos_tx_tov03 != 1) return;
    if (cextraigo_tov03 == 1) {
        linea();
        Serial1.print("TOV03 Tx => (");
        Serial1.print((unsigned long)ibytes_a_escribir_sd[TIPO_TOV03]);
        Serial1.print(") ");
        enviar_texto_tov03(Serial1);
        linea();
    }
    enviar_texto_tov03(Serial);
    cdatos_tx_tov03 = 0;
}

void servicio_telemetria()
{
    if (cdatos_tx_tov03 == 1) {
        envio_texto_pendiente_tov03();
        return;
    }
    if (Serial.available() <= 0) return;
    ccantidad_bytes_rx_tov03 = 0;
    uint32_t inicio = millis();
    do {
        sodaq_wdt_reset();
        if (Serial.available() > 0) {
            while (Serial.available() > 0) {
                sodaq_wdt_reset();
                uint8_t byte = (uint8_t)Serial.read();
                if (ccantidad_bytes_rx_tov03 < TAM_TRAMA_TOV03) ctrama_rx_tov03[ccantidad_bytes_rx_tov03++] = byte;
            }
            ctimeout_rx_tov03 = 100;
        }
    } while (ctimeout_rx_tov03 != 0 && millis() - inicio < LIMITE_TRAMA_TOV03_MS);
    procesamos_trama_tov03();
}

extern "C" void loop(void)
{
    configuracion_pines_bucle();
    sodaq_wdt_reset();
    if (cguardar_contador_ficheros_dia == 1) {
        cguardar_contador_ficheros_dia = 0;
        escritura_variable_contador_Ficheros(0);
    }
    mostrar_hora_si_toca();
    servicio_sd();
    recepcion_sensor();
    servicio_gps();
    servicio_telemetria();
    if (cfecha_capturada == 1 && cRevision_Resets_24h == 1) Revision_Resets_24h();
    if (creset == 1 && cdatos_tx_tov03 == 0) {
        retardo_tiempo(10);
        esperar_reset_por_watchdog();
    }
}
