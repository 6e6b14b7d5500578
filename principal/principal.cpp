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
#define NVM_CTRLB_CACHEDIS (1u << 18)
#define NVM_DIRECCION_FILA_USUARIO 0x402000u
#define NVM_CMD_EAR 0xA505u
#define NVM_CMD_PBC 0xA544u
#define NVM_CMD_WAP 0xA506u
#define FUSIBLE_0 0xDAE0C7FAu
#define FUSIBLE_1 0xFFFFFC5Du

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

// Fuses: 8 kB boot protection, brown-out reset at level 7 and the hardware
// watchdog on from power-on. A row that differs is rewritten; the new values
// apply from the next reset.
static void revision_fila_usuario_nvm()
{
    if (nvm_leer_status() & NVM_STATUS_SB) return;
    if (nvm_leer_fila_usuario(0) == FUSIBLE_0 && nvm_leer_fila_usuario(1) == FUSIBLE_1) return;
    uint32_t ctrlb = nvm_leer_ctrlb();
    nvm_escribir_ctrlb(ctrlb | NVM_CTRLB_CACHEDIS);
    nvm_escribir_status(0x11F);
    nvm_escribir_addr(NVM_DIRECCION_FILA_USUARIO);
    nvm_escribir_ctrla(NVM_CMD_EAR);
    while (!nvm_intflag_ready()) {
    }
    nvm_escribir_status(0x11F);
    nvm_escribir_addr(NVM_DIRECCION_FILA_USUARIO);
    nvm_escribir_ctrla(NVM_CMD_PBC);
    while (!nvm_intflag_ready()) {
    }
    nvm_escribir_status(0x11F);
    nvm_escribir_addr(NVM_DIRECCION_FILA_USUARIO);
    nvm_escribir_fila_usuario(0, FUSIBLE_0);
    nvm_escribir_fila_usuario(1, FUSIBLE_1);
    nvm_escribir_ctrla(NVM_CMD_WAP);
    nvm_escribir_ctrlb(ctrlb);
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
