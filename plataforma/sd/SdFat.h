// The SD card library: the raw card (Sd2Card), a FAT16/FAT32 volume with long
// file names (SdFat), its files and directories (File) and the formatted text
// streams (ArduinoOutStream), with the interface of the open-source SdFat
// library that the logging code was written against.
//
// Names the callers pass:
//   SD_CHIP_SELECT_PIN   19  the card's chip select, line PA13
//   SD_CHIP_SELECT_PIN_FORMATEO 59  the same line PA13 under its other board number
//   SD_SCK_MHZ(12)       SPI clock setting; SPI_FULL_SPEED and SPI_HALF_SPEED also exist
//   open flags: O_RDONLY (0, also O_READ), O_WRONLY, O_RDWR, O_APPEND, O_CREAT,
//               O_TRUNC, O_EXCL, O_AT_END, with the values of the board's C
//               library: O_WRONLY | O_CREAT | O_APPEND = 0x209 (data files),
//               O_RDWR | O_CREAT | O_AT_END = 0x4202 = FILE_WRITE (test file).
//   Do not include <fcntl.h> of the host next to this header.
//
// All state (block caches, the mounted volume, positions) lives in the
// objects: a File refers to the SdFat it was opened on. Data written to a file
// reaches the card when its block is left, and the directory entry (size) at
// sync() or close(); mkdir, remove and creating a file leave the card
// consistent. A power cut loses what was not written yet, as on a real card.
//
// Dates: every entry gets the date of the volume's clock callback, or else the
// fixed date 1 January 2020, 00:00:00.
#ifndef PLATAFORMA_SD_SDFAT_H
#define PLATAFORMA_SD_SDFAT_H

#include <stddef.h>
#include <stdint.h>

#include "../plataforma.h"

#define SD_CHIP_SELECT_PIN 19
#define SD_CHIP_SELECT_PIN_FORMATEO 59
#define SD_SCK_MHZ(mhz) ((uint32_t)(mhz) * 1000000UL)
#define SPI_FULL_SPEED SD_SCK_MHZ(50)
#define SPI_HALF_SPEED SD_SCK_MHZ(25)
#define SPI_QUARTER_SPEED SD_SCK_MHZ(12)

#define O_RDONLY 0x0000
#define O_READ O_RDONLY
#define O_WRONLY 0x0001
#define O_WRITE O_WRONLY
#define O_RDWR 0x0002
#define O_ACCMODE 0x0003
#define O_APPEND 0x0008
#define O_CREAT 0x0200
#define O_TRUNC 0x0400
#define O_EXCL 0x0800
#define O_AT_END 0x4000
#define FILE_READ O_RDONLY
#define FILE_WRITE (O_RDWR | O_CREAT | O_AT_END)

// Card types.
#define SD_CARD_TYPE_SD1 1
#define SD_CARD_TYPE_SD2 2
#define SD_CARD_TYPE_SDHC 3

// Error codes of the raw card.
#define SD_CARD_ERROR_NONE 0x00
#define SD_CARD_ERROR_CMD0 0x01      // no card answers
#define SD_CARD_ERROR_CMD17 0x0D     // block read
#define SD_CARD_ERROR_CMD24 0x0E     // block write
#define SD_CARD_ERROR_CMD25 0x0F     // multi-block write
#define SD_CARD_ERROR_ERASE 0x27
#define SD_CARD_ERROR_WRITE 0x2C     // write failed inside a multi-block write
#define SD_CARD_ERROR_STOP_TRAN 0x2E
#define SD_CARD_ERROR_NOT_STARTED 0x30

// ---------------------------------------------------------------- raw card
class Sd2Card {
public:
    bool begin(uint8_t chipSelect = SD_CHIP_SELECT_PIN, uint32_t spi = SPI_FULL_SPEED);
    uint32_t cardSize();  // blocks of 512 bytes, 0 on failure
    uint8_t type() const { return tipo_; }
    bool erase(uint32_t first, uint32_t last);
    bool readBlock(uint32_t block, uint8_t *dst);
    bool writeBlock(uint32_t block, const uint8_t *src);
    bool writeStart(uint32_t block, uint32_t count);
    bool writeData(const uint8_t *src);
    bool writeStop();
    uint8_t errorCode() const { return error_; }
    uint8_t errorData() const { return estado_; }

private:
    bool fallo(uint8_t codigo);
    bool iniciada_ = false;
    uint8_t tipo_ = 0;
    uint8_t error_ = SD_CARD_ERROR_NONE;
    uint8_t estado_ = 0;
    uint32_t insercion_ = 0;
    bool en_escritura_ = false;
    uint32_t proximo_ = 0, quedan_ = 0;
};

class SdFat;

// ---------------------------------------------------------------- files and directories
class File : public Print {
public:
    File() {}
    // Opens a path relative to the root of the volume.
    bool open(SdFat *volumen, const char *path, uint16_t oflag = O_RDONLY);
    // Opens the next entry of an open directory (skips "." and "..").
    bool openNext(File *dir, uint16_t oflag = O_RDONLY);
    bool isOpen() const { return tipo_ != CERRADO; }
    explicit operator bool() const { return isOpen(); }
    bool isDir() const { return tipo_ == DIRECTORIO || tipo_ == RAIZ; }
    bool isDirectory() const { return isDir(); }
    bool isFile() const { return tipo_ == FICHERO; }
    bool isSubDir() const { return tipo_ == DIRECTORIO; }
    bool isRoot() const { return tipo_ == RAIZ; }
    // FAT attribute byte of the entry (0x10 directory, 0x20 archive ...).
    uint8_t attribute() const { return atributos_; }
    // The entry's long name when it has one and it fits, else its 8.3 name.
    bool getName(char *name, size_t size);
    bool getSFN(char *name);

    size_t write(uint8_t byte) override;
    size_t write(const void *buf, size_t count);
    size_t write(const char *texto);
    int read();
    int read(void *buf, size_t count);
    int available();
    bool seekSet(uint32_t pos);
    bool seekEnd() { return seekSet(tamano_); }
    bool rewind() { return seekSet(0); }
    uint32_t curPosition() const { return posicion_; }
    uint32_t fileSize() const { return tamano_; }
    uint32_t size() const { return tamano_; }
    uint32_t firstCluster() const { return primer_cluster_; }
    bool getWriteError() const { return error_escritura_; }
    void clearWriteError() { error_escritura_ = false; }
    bool sync();
    bool close();

private:
    friend class SdFat;
    enum Tipo : uint8_t { CERRADO, FICHERO, DIRECTORIO, RAIZ };
    bool cluster_de(uint32_t indice, bool crear, uint32_t *cluster);
    bool escribir_entrada();
    bool recortar(uint32_t tamano);
    bool leer_nombre_largo(char *name, size_t size);

    SdFat *vol_ = nullptr;
    Tipo tipo_ = CERRADO;
    uint8_t atributos_ = 0;
    uint16_t flags_ = 0;
    bool error_escritura_ = false;
    bool entrada_sucia_ = false;
    uint32_t primer_cluster_ = 0;
    uint32_t tamano_ = 0;
    uint32_t posicion_ = 0;
    uint32_t cluster_actual_ = 0;   // cluster number indice_cluster_ of the chain
    uint32_t indice_cluster_ = 0;
    // Where the entry lies: its parent directory and its index there
    // (entrada_ of the short entry, primera_ of the first long-name entry).
    uint32_t padre_cluster_ = 0;
    uint32_t entrada_ = 0;
    uint32_t primera_ = 0;
    bool nombre_largo_ = false;  // long-name entries from primera_ on (read again by getName)
    uint8_t nombre_corto_[11] = {};
    uint8_t caso_ = 0;          // lower-case flags of the short name
};

// ---------------------------------------------------------------- the volume
typedef void (*FechaHoraSd)(uint16_t *fecha, uint16_t *hora);

class SdFat {
public:
    // Starts the card, mounts partition 1 (or else the whole card) and opens the root.
    bool begin(uint8_t chipSelect = SD_CHIP_SELECT_PIN, uint32_t spi = SPI_FULL_SPEED);
    bool exists(const char *path);
    bool mkdir(const char *path, bool pFlag = true);
    bool remove(const char *path);
    bool rmdir(const char *path);
    File open(const char *path, uint16_t oflag = O_RDONLY);
    uint8_t fatType() const { return montado_ ? tipo_fat_ : 0; }
    uint8_t blocksPerCluster() const { return por_cluster_; }
    uint32_t clusterCount() const { return clusters_; }
    uint32_t volumeBlockCount() const { return clusters_ * por_cluster_; }
    // Free clusters, scanning the FAT; -1 on FAT12, on a read error or when the
    // 1 s count-down ctimeout_salir_bucle has reached 0 (30 s, 44 s when
    // CTE_PORCENTAJE_FULL_SD is 111). The watchdog is fed before each FAT block.
    int32_t freeClusterCount();
    // The same scan bounded by any count-down.
    int32_t contar_clusters_libres(volatile uint8_t *cuenta_atras);
    File *vwd() { return &raiz_; }
    Sd2Card *card() { return &tarjeta_; }
    // The clock that dates new and written entries (null: the fixed date).
    void dateTimeCallback(FechaHoraSd f) { fecha_hora_ = f; }
    void dateTimeCallbackCancel() { fecha_hora_ = nullptr; }
    // Writes every pending block to the card.
    bool sincronizar();

private:
    friend class File;
    struct Cache {
        uint8_t datos[512];
        uint32_t bloque = UINT32_MAX;
        bool sucio = false;
        // A file's data block: the file's first cluster and the block's
        // offset in the file (propietario 0: a table or directory block).
        uint32_t propietario = 0;
        uint32_t desplazamiento = 0;
    };
    // Data blocks the card refused, by file: the file's size must not count
    // them, nor anything after them.
    struct Perdida {
        uint32_t cluster = 0;
        uint32_t desde = 0;
    };
    void anotar_perdida(uint32_t cluster, uint32_t desde);
    bool tomar_perdida(uint32_t cluster, uint32_t *desde);
    Perdida perdidas_[4];
    uint8_t turno_perdida_ = 0;
    struct Busqueda;

    bool montar(uint32_t inicio);
    bool leer_cache(Cache &c, uint32_t bloque, bool para_escribir);
    bool vaciar(Cache &c);
    bool leer_fat(uint32_t cluster, uint32_t *valor);
    bool escribir_fat(uint32_t cluster, uint32_t valor);
    bool es_fin(uint32_t valor) const { return valor >= (tipo_fat_ == 16 ? 0xFFF8u : 0x0FFFFFF8u); }
    bool asignar_cluster(uint32_t anterior, uint32_t *nuevo);
    bool liberar_cadena(uint32_t cluster);
    bool limpiar_cluster(uint32_t cluster);
    uint32_t bloque_de_cluster(uint32_t cluster) const { return inicio_datos_ + (cluster - 2) * por_cluster_; }
    // Block of the entry index of a directory (dir 0: the root); extends the directory if asked.
    bool bloque_de_entrada(uint32_t dir, uint32_t indice, bool extender, uint32_t *bloque);
    uint8_t *entrada(uint32_t dir, uint32_t indice, bool para_escribir, bool extender = false);
    bool buscar(uint32_t dir, const char *nombre, size_t largo, File *hallado);
    bool leer_entrada(uint32_t dir, uint32_t *indice, File *f, bool *fin);
    bool resolver(const char *path, File *f, uint32_t *dir_padre, const char **ultimo, size_t *largo_ultimo);
    bool crear_entrada(uint32_t dir, const char *nombre, size_t largo, uint8_t atributos, uint32_t cluster,
                       File *f);
    uint32_t primer_cluster_dir(uint32_t dir) const { return dir == 0 ? cluster_raiz_ : dir; }
    void fecha_hora(uint16_t *fecha, uint16_t *hora);
    bool escribir_fsinfo();

    Sd2Card tarjeta_;
    Cache cache_;
    Cache cache_fat_;
    bool montado_ = false;
    uint8_t tipo_fat_ = 0;
    uint8_t por_cluster_ = 0;
    uint8_t num_fats_ = 0;
    uint32_t inicio_volumen_ = 0;
    uint32_t inicio_fat_ = 0;
    uint32_t bloques_fat_ = 0;
    uint32_t inicio_raiz_ = 0;      // FAT16: first block of the fixed root directory
    uint32_t entradas_raiz_ = 0;    // FAT16: its entries
    uint32_t inicio_datos_ = 0;
    uint32_t clusters_ = 0;
    uint32_t cluster_raiz_ = 0;     // FAT32: first cluster of the root
    uint32_t bloque_fsinfo_ = 0;    // FAT32: 0 without FSInfo
    uint32_t libres_ = 0xFFFFFFFF;  // free clusters as FSInfo keeps them (unknown: all ones)
    uint32_t siguiente_libre_ = 2;
    bool fsinfo_sucio_ = false;
    File raiz_;
    FechaHoraSd fecha_hora_ = nullptr;
};

// The firmware's count-down and occupancy parameter that bound the free-cluster scan.
extern volatile uint8_t ctimeout_salir_bucle;
extern uint8_t CTE_PORCENTAJE_FULL_SD;

inline int32_t SdFat::freeClusterCount()
{
    ctimeout_salir_bucle = CTE_PORCENTAJE_FULL_SD == 111 ? 44 : 30;
    return contar_clusters_libres(&ctimeout_salir_bucle);
}

// ---------------------------------------------------------------- text streams
// Formatted output in the manner of an std::ostream: characters, strings,
// integers in the current base, floating point with the current precision,
// setw/setfill/setprecision, hex/dec/oct, showbase, uppercase, left/right, endl.
class ArduinoOutStream;

struct SdSetw { int n; };
struct SdSetfill { char c; };
struct SdSetprecision { int n; };
inline SdSetw setw(int n) { return {n}; }
inline SdSetfill setfill(char c) { return {c}; }
inline SdSetprecision setprecision(int n) { return {n}; }

class ArduinoOutStream {
public:
    explicit ArduinoOutStream(Print &destino) : destino_(destino) {}
    // Back to the start-up format (decimal, no width, two decimals).
    void reiniciar();
    ArduinoOutStream &operator<<(char c);
    ArduinoOutStream &operator<<(const char *s);
    ArduinoOutStream &operator<<(const String &s) { return *this << s.c_str(); }
    // As an std::ostream: the character types print as characters (cast to int for a number).
    ArduinoOutStream &operator<<(signed char v) { return *this << (char)v; }
    ArduinoOutStream &operator<<(unsigned char v) { return *this << (char)v; }
    ArduinoOutStream &operator<<(short v) { return entero(v); }
    ArduinoOutStream &operator<<(unsigned short v) { return sin_signo(v, false); }
    ArduinoOutStream &operator<<(int v) { return entero(v); }
    ArduinoOutStream &operator<<(unsigned int v) { return sin_signo(v, false); }
    ArduinoOutStream &operator<<(long v) { return entero(v); }
    ArduinoOutStream &operator<<(unsigned long v) { return sin_signo(v, false); }
    ArduinoOutStream &operator<<(long long v) { return entero(v); }
    ArduinoOutStream &operator<<(unsigned long long v) { return sin_signo(v, false); }
    ArduinoOutStream &operator<<(double v);
    ArduinoOutStream &operator<<(float v) { return *this << (double)v; }
    ArduinoOutStream &operator<<(bool v) { return entero(v ? 1 : 0); }
    ArduinoOutStream &operator<<(ArduinoOutStream &(*manipulador)(ArduinoOutStream &)) { return manipulador(*this); }
    ArduinoOutStream &operator<<(SdSetw w) { ancho_ = w.n; return *this; }
    ArduinoOutStream &operator<<(SdSetfill f) { relleno_ = f.c; return *this; }
    ArduinoOutStream &operator<<(SdSetprecision p) { precision_ = p.n; return *this; }

    // Format state, as the manipulators set it.
    int base_ = 10;
    bool mostrar_base_ = false, mayusculas_ = false, izquierda_ = false;
    int ancho_ = 0;
    char relleno_ = ' ';
    int precision_ = 2;

private:
    ArduinoOutStream &entero(long long v);
    ArduinoOutStream &sin_signo(unsigned long long v, bool negativo);
    void campo(const char *prefijo, const char *texto);
    Print &destino_;
};

ArduinoOutStream &endl(ArduinoOutStream &s);
ArduinoOutStream &hex(ArduinoOutStream &s);
ArduinoOutStream &dec(ArduinoOutStream &s);
ArduinoOutStream &oct(ArduinoOutStream &s);
ArduinoOutStream &showbase(ArduinoOutStream &s);
ArduinoOutStream &noshowbase(ArduinoOutStream &s);
ArduinoOutStream &uppercase(ArduinoOutStream &s);
ArduinoOutStream &nouppercase(ArduinoOutStream &s);
ArduinoOutStream &left(ArduinoOutStream &s);
ArduinoOutStream &right(ArduinoOutStream &s);
ArduinoOutStream &flush(ArduinoOutStream &s);

// The debug console and the telemetry link as text streams.
extern ArduinoOutStream cout;
extern ArduinoOutStream coutTOV;
// A board reset: the streams' format state back to its start-up values.
void sd_reinicio_flujos();

#endif
