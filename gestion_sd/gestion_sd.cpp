// The card's start-up and occupancy, the day directory YYMMDD and the
// interval files HHMM.raw / HHMM.wav / HHMM.res inside it, the summary file
// found again after a restart, and the main loop's writes and closes.
#include "gestion_sd.h"

#include <string.h>

#include "../declaraciones/declaraciones.h"
#include "../virtual_e2prom/virtual_e2prom.h"
#include "../waves/analisis.h"
#include "../waves/muestras.h"

SdFat miSD;
Sd2Card card;
File ffichero_raw, ffichero_wav, ffichero_res;

uint8_t cbytes_nombre_fichero = 0;

static const char m_barra[] = "/";
static const char m_raw[] = ".raw";
static const char m_wav[] = ".wav";
static const char m_res[] = ".res";

#define TAM_NOMBRE_DIRECTORIO 8
#define TAM_NOMBRE_FICHERO 20
#define TAM_NOMBRE_ENTRADA 13
#define MAX_ENTRADAS_BUSQUEDA_RES 5

// Data files: write only, created when missing, every write at the end.
#define FLAGS_FICHERO_DATOS (O_WRONLY | O_CREAT | O_APPEND)

static void traza(const char *texto) { Serial1.print(texto); }
static void traza_linea(const char *texto) { Serial1.println(texto); }

// ---------------------------------------------------------------- names
void inserto_bytes(char *pctrama, char cdato, uint8_t tam)
{
    if ((uint16_t)cbytes_nombre_fichero + 1 >= tam) return;  // room kept for the terminator
    pctrama[cbytes_nombre_fichero++] = cdato;
}

void inserto_variable(char *pctrama, uint32_t laux, uint8_t cnumero_cifras, uint8_t tam)
{
    char cifras[10];
    if (cnumero_cifras > sizeof cifras) cnumero_cifras = sizeof cifras;
    for (uint8_t i = cnumero_cifras; i > 0; i--) {
        cifras[i - 1] = (char)('0' + laux % 10);
        laux /= 10;
    }
    for (uint8_t i = 0; i < cnumero_cifras; i++) inserto_bytes(pctrama, cifras[i], tam);
}

void inserto_mensaje(char *pctrama, const char *pcmensaje, uint8_t tam)
{
    while (*pcmensaje) inserto_bytes(pctrama, *pcmensaje++, tam);
}

static void terminar_nombre(char *pctrama, uint8_t tam)
{
    pctrama[cbytes_nombre_fichero < tam ? cbytes_nombre_fichero : tam - 1] = 0;
}

static String nombre_directorio()
{
    char nombre[TAM_NOMBRE_DIRECTORIO];
    cbytes_nombre_fichero = 0;
    inserto_variable(nombre, cano_utc, 2, sizeof nombre);
    inserto_variable(nombre, cmes_utc, 2, sizeof nombre);
    inserto_variable(nombre, cdia_utc, 2, sizeof nombre);
    terminar_nombre(nombre, sizeof nombre);
    return String(nombre);
}

static String parte_fichero(const char *extension)
{
    char nombre[TAM_NOMBRE_FICHERO];
    cbytes_nombre_fichero = 0;
    inserto_mensaje(nombre, m_barra, sizeof nombre);
    inserto_variable(nombre, chora_utc, 2, sizeof nombre);
    inserto_variable(nombre, cminuto_utc, 2, sizeof nombre);
    inserto_mensaje(nombre, extension, sizeof nombre);
    terminar_nombre(nombre, sizeof nombre);
    return String(nombre);
}

// The day directory "/" + YYMMDD + "/": whether the name exists and is a directory.
static void comprobar_directorio(bool *existe, bool *es_directorio)
{
    String ruta = String(m_barra) + Sdirectorio + m_barra;
    *existe = Sdirectorio.length() != 0 && miSD.exists(ruta.c_str());
    File d;
    *es_directorio = Sdirectorio.length() != 0 && d.open(&miSD, ruta.c_str(), O_RDONLY) && d.isDir();
    d.close();
}

// The paths the interval handles were opened with.
static String ruta_raw_abierta, ruta_wav_abierta;

// A raw or wave file that the buoy holds open exists: only the buoy changes
// the card, and looking the path up again on the card at every sample would
// push the file's unfinished block out of the card library's single block
// cache, rewriting that block once per record.
bool existe_fichero_tarjeta(const String &ruta)
{
    if (ruta.length() == 0) return false;
    if (ffichero_raw.isOpen() && ruta == ruta_raw_abierta) return true;
    if (ffichero_wav.isOpen() && ruta == ruta_wav_abierta) return true;
    return miSD.exists(ruta.c_str());
}

static bool existe(const String &ruta) { return existe_fichero_tarjeta(ruta); }

// After a card operation failed: a card that no longer answers (pulled out,
// or put back and not started again, which a card needs after losing power)
// is started anew by the SD service, as at power-up, and from then on every
// minute until it answers. The handles of the lost card are dropped without
// a write: what they would write belongs to the old card's blocks. A card that
// answers but refuses the write (full, worn) is left as it is.
void comprobar_tarjeta_tras_fallo()
{
    if (ctarjeta_sd_inicializada == 0 || miSD.card()->cardSize() != 0) return;
    ffichero_raw = File();
    ffichero_wav = File();
    ffichero_res = File();
    ruta_raw_abierta = "";
    ruta_wav_abierta = "";
    ctarjeta_sd_inicializada = 0;
}

// New and written entries are dated from the internal clock once it has been
// set; before that the card's fixed date stands.
static void fecha_hora_reloj(uint16_t *fecha, uint16_t *hora)
{
    if (cfecha_capturada == 0 || cmes_utc < 1 || cmes_utc > 12 || cdia_utc < 1 || cdia_utc > 31) {
        *fecha = (uint16_t)((2020 - 1980) << 9 | 1 << 5 | 1);
        *hora = 0;
        return;
    }
    *fecha = (uint16_t)((2000 + cano_utc - 1980) << 9 | cmes_utc << 5 | cdia_utc);
    *hora = (uint16_t)(chora_utc << 11 | cminuto_utc << 5 | csegundo_utc / 2);
}

// The raw and wave files of the interval, closed with what they hold, so
// that their records and sizes reach the card. Called when SD writing is
// withdrawn and before the card is started again: starting the card drops
// the library's unwritten block, and a handle closed after that would give
// its file a size that counts bytes never written. A card that no longer
// answers takes no write; the handle is released all the same.
void cierre_ficheros_intervalo_abiertos()
{
    if (ffichero_raw.isOpen()) ffichero_raw.close();
    if (ffichero_wav.isOpen()) ffichero_wav.close();
    ffichero_raw = File();
    ffichero_wav = File();
    ruta_raw_abierta = "";
    ruta_wav_abierta = "";
}

// ---------------------------------------------------------------- start-up
void inicializacion_sd()
{
    cierre_ficheros_intervalo_abiertos();
    miSD.dateTimeCallback(fecha_hora_reloj);
    if (!miSD.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)) || miSD.fatType() == 0 || !miSD.vwd()->isDir()) {
        traza_linea("SD no presente");
        resSdOk = 0;
        csegundos_retardo_gestion_sd = 60;
        if (CTE_PORCENTAJE_FULL_SD != 112) {
            CTE_PORCENTAJE_FULL_SD = 112;
            escritura_variable_porcentaje_SD(CTE_PORCENTAJE_FULL_SD);
        }
        return;
    }
    traza_linea("SD inicializada");
    ctarjeta_sd_inicializada = 1;
    Intentos_Creacion_Directorio = 0;
    Intentos_Creacion_Fichero = 0;
    ccreacion_nuevo_directorio = 1;
    ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = ccreacion_nuevo_fichero[2] = 1;

    // Write test: only the existence of the test file counts.
    static const char prueba[] = "/_sd/escritura_sd.txt";
    miSD.mkdir("_sd", true);
    miSD.remove(prueba);
    if (miSD.exists(prueba)) {
        resSdOk = 0;
    } else {
        File f;
        if (f.open(&miSD, prueba, FILE_WRITE)) {
            char texto[6];
            cbytes_nombre_fichero = 0;
            inserto_variable(texto, chora_utc, 2, sizeof texto);
            inserto_variable(texto, cminuto_utc, 2, sizeof texto);
            terminar_nombre(texto, sizeof texto);
            f.print("Escritura sd ok: ");
            f.print(texto);
            f.close();
        }
        if (miSD.exists(prueba)) {
            resSdOk = 1;
            traza_linea("Fichero escritura actualizado");
        } else {
            resSdOk = 0;
        }
    }
    if (CTE_PORCENTAJE_FULL_SD > 100) espacio_ocupado_SD();
}

// The occupancy in percent, stored as a parameter. A count that fails twice
// (a read error, or the scan cut by its time limit) leaves the last measured
// value standing, working and stored: it is not taken for an empty card. A
// card never measured keeps its mark above 100, so the usage limit holds.
uint8_t espacio_ocupado_SD()
{
    traza("\nTipo de volumen FAT = ");
    Serial1.print((int)miSD.fatType());
    for (uint8_t intento = 1; intento <= 2; intento++) {
        traza("  -  nReintentos=");
        Serial1.print((int)intento);
        float total = (float)miSD.clusterCount() * (float)miSD.blocksPerCluster() * 512.0f / 1000.0f / 1000.0f;
        traza(" - Tama\xF1o total SD = ");
        Serial1.print((double)total, 2);
        traza(" MB. ");
        uint32_t inicio = millis();
        int32_t libres = miSD.freeClusterCount();
        uint32_t tiempo = millis() - inicio;
        traza(" - Clusters libres : ");
        Serial1.print((double)libres, 2);
        if (libres == -1) continue;
        float libre_mb = (float)libres * 0.000512f * (float)miSD.blocksPerCluster();
        traza("  ->  Espacio libre: ");
        Serial1.print((double)libre_mb, 2);
        traza(" MB. ");
        traza(" - Tiempo = ");
        Serial1.print((unsigned long)tiempo);
        traza(" milisegs. ==> ");
        float ocupado = total > 0 ? (total - libre_mb) * 100.0f / total : 0.0f;
        if (ocupado < 0) ocupado = 0;
        if (ocupado > 100) ocupado = 100;
        uint8_t resultado = (uint8_t)ocupado;
        traza("Porcentaje ocupado SD = ");
        Serial1.print((int)resultado);
        traza_linea(" %");
        Serial1.println();
        CTE_PORCENTAJE_FULL_SD = resultado;
        escritura_variable_porcentaje_SD(resultado);
        return resultado;
    }
    traza("  ->  Recuento fallido. Se mantiene % ocupado SD = ");
    Serial1.println((int)CTE_PORCENTAJE_FULL_SD);
    return CTE_PORCENTAJE_FULL_SD;
}

// ---------------------------------------------------------------- directories

void creacion_nuevo_directorio()
{
    traza("Intento creacion directorio numero: ");
    Serial1.println((unsigned int)Intentos_Creacion_Directorio);
    Intentos_Creacion_Directorio++;
    if (Intentos_Creacion_Directorio > MAX_INTENTOS_CREACION) {
        NOMBRE_FICHERO_RAW = "";
        NOMBRE_FICHERO_WAV = "";
        NOMBRE_FICHERO_RES = "";
        ccreacion_nuevo_directorio = 0;
        ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = ccreacion_nuevo_fichero[2] = 0;
    }
    Sdirectorio = nombre_directorio();
    bool existe_dir, es_directorio;
    comprobar_directorio(&existe_dir, &es_directorio);
    if (existe_dir && es_directorio) {
        traza_linea("Directorio ya existe");
        ccreacion_nuevo_directorio = 0;
        recuperar_fichero_RES_si_existe();
        return;
    }
    uint8_t ocupado = espacio_ocupado_SD();
    if (ocupado < CTE_LIMITE_MAX_USO_SD) {
        if (!miSD.mkdir(Sdirectorio.c_str(), true)) {
            traza_linea("Error creando directorio.");
            comprobar_tarjeta_tras_fallo();
            return;
        }
        traza("Nuevo directorio creado: ");
        Serial1.println(Sdirectorio);
        ccreacion_nuevo_directorio = 0;
        // A raw or wave file of the previous day still open is closed
        // before the new day's files take over its handle.
        cierre_ficheros_intervalo_abiertos();
        ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = ccreacion_nuevo_fichero[2] = 1;
    } else {
        traza_linea("L\xEDmite m\xE1ximo de memoria SD superado.");
        ccreacion_nuevo_directorio = 0;
        ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = ccreacion_nuevo_fichero[2] = 0;
    }
}

void recuperar_fichero_RES_si_existe()
{
    String ruta = String(m_barra) + Sdirectorio + m_barra;
    File dir;
    if (Sdirectorio.length() == 0 || !miSD.exists(ruta.c_str()) || !dir.open(&miSD, ruta.c_str(), O_RDONLY) ||
        !dir.isDir()) {
        dir.close();
        return;
    }
    for (uint8_t n = 0; n < MAX_ENTRADAS_BUSQUEDA_RES; n++) {
        File entrada;
        if (!entrada.openNext(&dir, O_RDONLY)) break;
        if (entrada.isDir()) {
            entrada.close();
            continue;
        }
        char nombre[TAM_NOMBRE_ENTRADA];
        bool con_nombre = entrada.getName(nombre, sizeof nombre);
        entrada.close();
        if (!con_nombre) continue;
        size_t l = strlen(nombre);
        if (l >= 3 && (strcmp(nombre + l - 3, "res") == 0 || strcmp(nombre + l - 3, "RES") == 0)) {
            NOMBRE_FICHERO_RES = ruta + nombre;
            traza("Fichero RES localizado: ");
            Serial1.println(NOMBRE_FICHERO_RES);
            ccreacion_nuevo_fichero[TIPO_RES] = 2;
            dir.close();
            return;
        }
    }
    dir.close();
    traza_linea("Fichero RES NO localizado.");
    ccreacion_nuevo_fichero[TIPO_RES] = 1;
}

// ---------------------------------------------------------------- files
void creacion_nuevo_fichero(uint8_t ctipo)
{
    if (ctipo > TIPO_RES) return;
    bool existe_dir, es_directorio;
    comprobar_directorio(&existe_dir, &es_directorio);
    traza("Entra en la creacion de fichero: ");
    Serial1.print((int)ctipo);
    Serial1.print(existe_dir ? 1 : 0);
    Serial1.println(es_directorio ? 1 : 0);
    Serial1.println();
    traza("Intento creacion fichero numero: ");
    Serial1.println((unsigned int)Intentos_Creacion_Fichero);
    Intentos_Creacion_Fichero++;
    if (Intentos_Creacion_Fichero > MAX_INTENTOS_CREACION) ccreacion_nuevo_fichero[ctipo] = 0;

    String *ruta = ctipo == TIPO_RAW ? &NOMBRE_FICHERO_RAW : ctipo == TIPO_WAV ? &NOMBRE_FICHERO_WAV : &NOMBRE_FICHERO_RES;
    if (!existe_dir || !es_directorio) {
        *ruta = "";
        comprobar_tarjeta_tras_fallo();
        return;
    }
    String nombre = Sdirectorio + parte_fichero(ctipo == TIPO_RAW ? m_raw : ctipo == TIPO_WAV ? m_wav : m_res);
    if (miSD.exists(nombre.c_str())) traza_linea("Fichero existente: ");
    *ruta = nombre;
    if (ctipo == TIPO_RAW) {
        if (ffichero_raw.isOpen()) ffichero_raw.close();
        ffichero_raw.open(&miSD, nombre.c_str(), FLAGS_FICHERO_DATOS);
        ruta_raw_abierta = nombre;
        ccreacion_nuevo_fichero[TIPO_RAW] = 2;
        ContNumPtosOla = 0;
        ContadorNumeroFicheros++;
        if (ContadorNumeroFicheros > CTE_NUMERO_MAXIMO_FICHEROS) {
            traza("\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Prohibida la escritura en SD por N\xBA Ficheros superado:");
            Serial1.println((unsigned int)ContadorNumeroFicheros);
            CTE_PERMITIR_ESCRITURA_SD = 0;
            ContadorNumeroFicheros = 0;
        }
    } else if (ctipo == TIPO_WAV) {
        if (ffichero_wav.isOpen()) ffichero_wav.close();
        ffichero_wav.open(&miSD, nombre.c_str(), FLAGS_FICHERO_DATOS);
        ruta_wav_abierta = nombre;
        ccreacion_nuevo_fichero[TIPO_WAV] = 2;
    } else {
        if (ffichero_res.isOpen()) ffichero_res.close();
        ffichero_res.open(&miSD, nombre.c_str(), FLAGS_FICHERO_DATOS);
        if (miSD.exists(nombre.c_str())) ffichero_res.close();
        ccreacion_nuevo_fichero[TIPO_RES] = 2;
    }
    bool creado = miSD.exists(nombre.c_str());
    if (creado) traza("- ");
    traza("Nuevo fichero creado:");
    Serial1.println(nombre);
    if (!creado) comprobar_tarjeta_tras_fallo();
}

// ---------------------------------------------------------------- main-loop writes
static File *manejador(uint8_t ctipo) { return ctipo == TIPO_RAW ? &ffichero_raw : &ffichero_wav; }
static const String &ruta_de(uint8_t ctipo)
{
    return ctipo == TIPO_RAW ? NOMBRE_FICHERO_RAW : ctipo == TIPO_WAV ? NOMBRE_FICHERO_WAV : NOMBRE_FICHERO_RES;
}
static const char *buffer_de(uint8_t ctipo)
{
    return ctipo == TIPO_RAW ? cbuffer_raw : ctipo == TIPO_WAV ? cbuffer_wav : cbuffer_res;
}
static uint32_t longitud_de(uint8_t ctipo)
{
    uint32_t tam = ctipo == TIPO_RAW ? TAM_BUFFER_RAW : ctipo == TIPO_WAV ? TAM_BUFFER_WAV : TAM_BUFFER_RES;
    return ibytes_a_escribir_sd[ctipo] < tam ? ibytes_a_escribir_sd[ctipo] : tam;
}

// Appends the pending record to an interval file kept open. Each time the
// file enters a new block its size is also brought up to date on the card,
// so that a reset in the middle of the interval loses at most the records of
// one block and leaves the file system consistent.
static void anadir_registro(uint8_t ctipo, File *f)
{
    if (!f->isOpen()) return;
    uint32_t bloque = f->curPosition() / 512;
    bool escrito = f->write(buffer_de(ctipo), longitud_de(ctipo)) == longitud_de(ctipo);
    if (escrito && f->curPosition() / 512 != bloque) escrito = f->sync();
    if (!escrito) comprobar_tarjeta_tras_fallo();
}

void cierre_fichero_intervalo(uint8_t ctipo)
{
    if (ctipo > TIPO_WAV) return;
    if (!existe(ruta_de(ctipo))) return;
    File *f = manejador(ctipo);
    bool escrito = true;
    if (cescritura_sd[ctipo] == 1) {
        if (f->isOpen()) escrito = f->write(buffer_de(ctipo), longitud_de(ctipo)) == longitud_de(ctipo);
        cescritura_sd[ctipo] = 0;
    }
    bool abierto = f->isOpen();
    if (!f->close() && abierto) escrito = false;
    traza_linea(ctipo == TIPO_RAW ? "Fichero RAW cerrado" : "Fichero WAV cerrado");
    if (!escrito) comprobar_tarjeta_tras_fallo();
}

void escritura_registro_fichero(uint8_t ctipo)
{
    if (ctipo > TIPO_RES) return;
    if (!existe(ruta_de(ctipo))) {
        if (ruta_de(ctipo).length() != 0) comprobar_tarjeta_tras_fallo();
        return;
    }
    if (ctipo != TIPO_RES) {
        anadir_registro(ctipo, manejador(ctipo));
        return;
    }
    if (ffichero_res.isOpen()) ffichero_res.close();
    bool escrito = false;
    if (ffichero_res.open(&miSD, NOMBRE_FICHERO_RES.c_str(), FLAGS_FICHERO_DATOS)) {
        escrito = ffichero_res.write(cbuffer_res, longitud_de(TIPO_RES)) == longitud_de(TIPO_RES);
        escrito = ffichero_res.close() && escrito;
    }
    traza("Guardando en: ");
    Serial1.println(NOMBRE_FICHERO_RES);
    if (lectura_variable_contador_Ficheros() < ContadorNumeroFicheros)
        escritura_variable_contador_Ficheros(ContadorNumeroFicheros);
    ContadorNumeroFicheros = 0;
    if (!escrito) comprobar_tarjeta_tras_fallo();
}
