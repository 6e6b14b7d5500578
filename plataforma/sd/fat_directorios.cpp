// The volume's directories: entries read and written, names looked up,
// paths followed, and the volume mounted, with its operations on paths.
#include <string.h>

#include "SdFat.h"
#include "bloques_sd.h"
#include "fat_comun.h"

using namespace fat_comun;

bool SdFat::bloque_de_entrada(uint32_t dir, uint32_t indice, bool extender, uint32_t *bloque)
{
    if (indice >= MAX_ENTRADAS_DIR) return false;
    uint32_t n = indice / 16;
    if (dir == 0 && tipo_fat_ == 16) {
        if (indice >= entradas_raiz_) return false;
        *bloque = inicio_raiz_ + n;
        return true;
    }
    uint32_t c = primer_cluster_dir(dir);
    for (uint32_t k = n / por_cluster_; k > 0; k--) {
        uint32_t s;
        if (!leer_fat(c, &s)) return false;
        if (s < 2 || es_fin(s)) {
            if (!extender || !asignar_cluster(c, &s) || !limpiar_cluster(s)) return false;
        } else if (s > clusters_ + 1) {
            return false;
        }
        c = s;
    }
    *bloque = bloque_de_cluster(c) + n % por_cluster_;
    return true;
}

uint8_t *SdFat::entrada(uint32_t dir, uint32_t indice, bool para_escribir, bool extender)
{
    uint32_t b;
    if (!bloque_de_entrada(dir, indice, extender, &b)) return nullptr;
    if (!leer_cache(cache_, b, para_escribir)) return nullptr;
    return cache_.datos + (indice % 16) * 32;
}

// Reads entries from *indice on up to the next file or directory (long name
// gathered on the way); *fin at the end of the directory.
bool SdFat::leer_entrada(uint32_t dir, uint32_t *indice, File *f, bool *fin)
{
    *fin = false;
    uint8_t esperado = 0, suma = 0;
    uint32_t primera = 0;
    for (uint32_t i = *indice;; i++) {
        uint8_t *e = entrada(dir, i, false);
        if (!e || e[0] == 0) {
            *indice = i;
            *fin = true;
            return false;
        }
        if (e[0] == BORRADA) { esperado = 0; continue; }
        if ((e[11] & 0x3F) == ATR_NOMBRE_LARGO) {
            uint8_t orden = e[0] & 0x1F;
            if (e[0] & 0x40) {
                esperado = orden;
                suma = e[13];
                primera = i;
                if (orden == 0 || orden > 20) { esperado = 0; continue; }
            }
            if (esperado == 0 || orden != esperado || e[13] != suma) { esperado = 0; continue; }
            esperado--;
            if (esperado == 0) esperado = 0xFF;  // complete: a short entry must follow
            continue;
        }
        bool con_largo = esperado == 0xFF && suma == suma_nombre_corto(e);
        esperado = 0;
        if (e[11] & ATR_ETIQUETA) continue;
        if (e[0] == '.') continue;
        f->vol_ = this;
        f->tipo_ = (e[11] & ATR_DIRECTORIO) ? File::DIRECTORIO : File::FICHERO;
        f->atributos_ = e[11];
        f->primer_cluster_ = le16(e + 26) | (tipo_fat_ == 32 ? (uint32_t)le16(e + 20) << 16 : 0);
        f->tamano_ = f->tipo_ == File::FICHERO ? le32(e + 28) : 0;
        f->posicion_ = 0;
        f->cluster_actual_ = 0;
        f->indice_cluster_ = 0;
        f->padre_cluster_ = dir;
        f->entrada_ = i;
        f->primera_ = con_largo ? primera : i;
        memcpy(f->nombre_corto_, e, 11);
        f->caso_ = e[12];
        f->error_escritura_ = false;
        f->entrada_sucia_ = false;
        f->nombre_largo_ = con_largo;
        *indice = i + 1;
        return true;
    }
}

bool SdFat::buscar(uint32_t dir, const char *nombre, size_t largo, File *hallado)
{
    uint32_t i = 0;
    bool fin = false;
    while (leer_entrada(dir, &i, hallado, &fin)) {
        if (hallado->nombre_largo_) {
            char n[256];
            if (hallado->leer_nombre_largo(n, sizeof n) && igual_sin_caso(n, strlen(n), nombre, largo)) return true;
        }
        char t[13];
        size_t lt = texto_corto(hallado->nombre_corto_, 0, t);
        if (igual_sin_caso(t, lt, nombre, largo)) return true;
    }
    hallado->tipo_ = File::CERRADO;
    return false;
}

// Follows a path from the root: 1 found (f), 0 only the last part is missing
// (*dir_padre holds it), -1 a parent is missing or the path is bad.
static const char *siguiente_parte(const char *p, size_t *largo)
{
    while (*p == '/') p++;
    const char *q = p;
    while (*q && *q != '/') q++;
    *largo = (size_t)(q - p);
    return p;
}

bool SdFat::resolver(const char *path, File *f, uint32_t *dir_padre, const char **ultimo, size_t *largo_ultimo)
{
    *dir_padre = 0;
    *ultimo = nullptr;
    *largo_ultimo = 0;
    f->tipo_ = File::CERRADO;
    if (!montado_ || tipo_fat_ == 12 || !path) return false;
    size_t largo;
    const char *p = siguiente_parte(path, &largo);
    if (largo == 0) {
        *f = raiz_;
        return true;
    }
    uint32_t dir = 0;
    for (;;) {
        size_t largo_sig;
        const char *sig = siguiente_parte(p + largo, &largo_sig);
        if (largo_sig == 0) {
            *dir_padre = dir;
            *ultimo = p;
            *largo_ultimo = largo;
            return buscar(dir, p, largo, f);
        }
        if (!buscar(dir, p, largo, f) || !f->isDir()) {
            f->tipo_ = File::CERRADO;
            return false;
        }
        dir = f->primer_cluster_;
        if (tipo_fat_ == 32 && dir == cluster_raiz_) dir = 0;
        p = sig;
        largo = largo_sig;
    }
}

void SdFat::fecha_hora(uint16_t *fecha, uint16_t *hora)
{
    *fecha = (uint16_t)(((2020 - 1980) << 9) | (1 << 5) | 1);
    *hora = 0;
    if (fecha_hora_) fecha_hora_(fecha, hora);
}

bool SdFat::crear_entrada(uint32_t dir, const char *nombre, size_t largo, uint8_t atributos, uint32_t cluster,
                          File *f)
{
    if (!nombre_valido(nombre, largo)) return false;
    uint8_t corto[11], caso = 0;
    size_t n_largo = 0;
    if (!nombre_corto_exacto(nombre, largo, corto, &caso)) {
        n_largo = (largo + 12) / 13;
        size_t largo_base;
        base_generada(nombre, largo, corto, &largo_base);
        // NAME~N.EXT with the first N that no entry of the directory has.
        bool libre = false;
        for (uint32_t num = 1; num < 100000 && !libre; num++) {
            char cola[8];
            int lc = 0;
            cola[lc++] = '~';
            char digitos[6];
            int nd = 0;
            for (uint32_t v = num; v; v /= 10) digitos[nd++] = (char)('0' + v % 10);
            while (nd) cola[lc++] = digitos[--nd];
            size_t b = largo_base + (size_t)lc > 8 ? 8 - (size_t)lc : largo_base;
            memset(corto + b, ' ', 8 - b);
            memcpy(corto + b, cola, (size_t)lc);
            libre = true;
            for (uint32_t i = 0;; i++) {
                uint8_t *e = entrada(dir, i, false);
                if (!e || e[0] == 0) break;
                if (e[0] != BORRADA && (e[11] & 0x3F) != ATR_NOMBRE_LARGO && memcmp(e, corto, 11) == 0) {
                    libre = false;
                    break;
                }
            }
        }
        if (!libre) return false;
    } else {
        // An 8.3 name must not be there already in another case.
        for (uint32_t i = 0;; i++) {
            uint8_t *e = entrada(dir, i, false);
            if (!e || e[0] == 0) break;
            if (e[0] != BORRADA && (e[11] & 0x3F) != ATR_NOMBRE_LARGO && memcmp(e, corto, 11) == 0) return false;
        }
    }
    // A run of free entries for the long name and the short entry.
    uint32_t necesarias = (uint32_t)n_largo + 1, inicio = 0, seguidas = 0;
    for (uint32_t i = 0;; i++) {
        uint8_t *e = entrada(dir, i, false, true);
        if (!e) return false;
        if (e[0] == 0 || e[0] == BORRADA) {
            if (seguidas++ == 0) inicio = i;
            if (seguidas == necesarias) break;
        } else {
            seguidas = 0;
        }
    }
    uint8_t suma = suma_nombre_corto(corto);
    for (size_t k = n_largo; k >= 1; k--) {
        uint8_t *e = entrada(dir, inicio + (uint32_t)(n_largo - k), true);
        if (!e) return false;
        memset(e, 0, 32);
        e[0] = (uint8_t)(k | (k == n_largo ? 0x40 : 0));
        e[11] = ATR_NOMBRE_LARGO;
        e[13] = suma;
        for (int j = 0; j < 13; j++) {
            size_t pos = (k - 1) * 13 + (size_t)j;
            uint16_t u = pos < largo ? (uint8_t)nombre[pos] : pos == largo ? 0x0000 : 0xFFFF;
            poner16(e + POS_LARGO[j], u);
        }
    }
    uint32_t indice = inicio + (uint32_t)n_largo;
    uint8_t *e = entrada(dir, indice, true);
    if (!e) return false;
    uint16_t fecha, hora;
    fecha_hora(&fecha, &hora);
    memset(e, 0, 32);
    memcpy(e, corto, 11);
    if (e[0] == 0xE5) e[0] = 0x05;
    e[11] = atributos;
    e[12] = caso;
    poner16(e + 14, hora);
    poner16(e + 16, fecha);
    poner16(e + 18, fecha);
    if (tipo_fat_ == 32) poner16(e + 20, (uint16_t)(cluster >> 16));
    poner16(e + 22, hora);
    poner16(e + 24, fecha);
    poner16(e + 26, (uint16_t)cluster);
    uint32_t i = inicio;
    bool fin;
    return leer_entrada(dir, &i, f, &fin) && f->entrada_ == indice;
}

bool SdFat::escribir_fsinfo()
{
    if (!fsinfo_sucio_) return true;
    fsinfo_sucio_ = false;
    if (tipo_fat_ != 32 || bloque_fsinfo_ == 0) return true;
    if (!leer_cache(cache_, bloque_fsinfo_, true)) return false;
    if (le32(cache_.datos) != 0x41615252 || le32(cache_.datos + 484) != 0x61417272) {
        cache_.sucio = false;
        return true;
    }
    poner32(cache_.datos + 488, libres_);
    poner32(cache_.datos + 492, siguiente_libre_ <= clusters_ + 1 ? siguiente_libre_ : 2);
    return vaciar(cache_);
}

bool SdFat::sincronizar()
{
    bool ok = vaciar(cache_);
    ok = vaciar(cache_fat_) && ok;
    ok = escribir_fsinfo() && ok;
    return ok;
}

bool SdFat::montar(uint32_t inicio)
{
    uint8_t *b = cache_.datos;
    if (!leer_cache(cache_, inicio, false)) return false;
    if (b[510] != 0x55 || b[511] != 0xAA || le16(b + 11) != 512) return false;
    uint8_t spc = b[13];
    if (spc == 0 || (spc & (spc - 1)) != 0) return false;
    uint16_t reservados = le16(b + 14);
    uint8_t nfats = b[16];
    uint32_t raiz = le16(b + 17);
    uint32_t total = le16(b + 19) ? le16(b + 19) : le32(b + 32);
    uint32_t por_fat = le16(b + 22) ? le16(b + 22) : le32(b + 36);
    if (reservados == 0 || nfats == 0 || nfats > 2 || total == 0 || por_fat == 0) return false;
    uint32_t bloques_raiz = (raiz * 32 + 511) / 512;
    uint64_t datos = (uint64_t)inicio + reservados + (uint64_t)nfats * por_fat + bloques_raiz;
    if (datos >= (uint64_t)inicio + total || (uint64_t)inicio + total > tarjeta_.cardSize()) return false;
    uint32_t clusters = (uint32_t)((inicio + total - datos) / spc);
    uint8_t tipo = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
    if (tipo == 32 && (raiz != 0 || le16(b + 22) != 0)) return false;
    if (tipo == 16 && raiz == 0) return false;
    uint32_t max_fat = tipo == 12 ? UINT32_MAX : por_fat * (512 / (tipo == 16 ? 2 : 4));
    if (tipo != 12 && clusters + 2 > max_fat) clusters = max_fat - 2;
    tipo_fat_ = tipo;
    por_cluster_ = spc;
    num_fats_ = nfats;
    inicio_volumen_ = inicio;
    inicio_fat_ = inicio + reservados;
    bloques_fat_ = por_fat;
    inicio_raiz_ = inicio_fat_ + nfats * por_fat;
    entradas_raiz_ = raiz;
    inicio_datos_ = (uint32_t)datos;
    clusters_ = clusters;
    cluster_raiz_ = 0;
    bloque_fsinfo_ = 0;
    libres_ = 0xFFFFFFFF;
    siguiente_libre_ = 2;
    if (tipo == 32) {
        cluster_raiz_ = le32(b + 44);
        if (cluster_raiz_ < 2 || cluster_raiz_ > clusters_ + 1) return false;
        uint16_t fs = le16(b + 48);
        if (fs != 0 && fs != 0xFFFF && fs < reservados) {
            bloque_fsinfo_ = inicio + fs;
            if (!leer_cache(cache_, bloque_fsinfo_, false)) return false;
            if (le32(b) == 0x41615252 && le32(b + 484) == 0x61417272) {
                uint32_t l = le32(b + 488), s = le32(b + 492);
                if (l <= clusters_) libres_ = l;
                if (s >= 2 && s <= clusters_ + 1) siguiente_libre_ = s;
            } else {
                bloque_fsinfo_ = 0;
            }
        }
    }
    montado_ = true;
    return true;
}

bool SdFat::begin(uint8_t chipSelect, uint32_t spi)
{
    montado_ = false;
    cache_ = Cache();
    cache_fat_ = Cache();
    for (Perdida &p : perdidas_) p = Perdida{};
    fsinfo_sucio_ = false;
    raiz_ = File();
    if (!tarjeta_.begin(chipSelect, spi)) return false;
    if (!leer_cache(cache_, 0, false)) return false;
    const uint8_t *p = cache_.datos + 446;
    uint32_t inicio = le32(p + 8), largo = le32(p + 12);
    bool mbr = cache_.datos[510] == 0x55 && cache_.datos[511] == 0xAA && (p[0] & 0x7F) == 0 && p[4] != 0 &&
               inicio != 0 && largo != 0;
    if (!(mbr && montar(inicio)) && !montar(0)) return false;
    raiz_.vol_ = this;
    raiz_.tipo_ = File::RAIZ;
    raiz_.atributos_ = ATR_DIRECTORIO;
    raiz_.flags_ = O_RDONLY;
    return true;
}

bool SdFat::exists(const char *path)
{
    File f;
    uint32_t padre;
    const char *u;
    size_t l;
    return resolver(path, &f, &padre, &u, &l);
}

bool SdFat::mkdir(const char *path, bool pFlag)
{
    if (!montado_ || tipo_fat_ == 12 || !path) return false;
    uint32_t dir = 0;
    size_t largo;
    const char *p = siguiente_parte(path, &largo);
    if (largo == 0) return false;
    for (;;) {
        size_t largo_sig;
        const char *sig = siguiente_parte(p + largo, &largo_sig);
        bool ultima = largo_sig == 0;
        File f;
        if (buscar(dir, p, largo, &f)) {
            if (!f.isDir() || ultima) return false;
            dir = f.primer_cluster_;
        } else {
            if (!ultima && !pFlag) return false;
            if (!nombre_valido(p, largo)) return false;
            uint32_t c;
            if (!asignar_cluster(0, &c)) { sincronizar(); return false; }
            bool ok = limpiar_cluster(c);
            uint16_t fecha, hora;
            fecha_hora(&fecha, &hora);
            for (uint32_t k = 0; k < 2 && ok; k++) {
                uint8_t *e = entrada(c, k, true);
                if (!e) { ok = false; break; }
                memset(e, ' ', 11);
                e[0] = '.';
                if (k == 1) e[1] = '.';
                e[11] = ATR_DIRECTORIO;
                uint32_t apunta = k == 0 ? c : dir;
                if (tipo_fat_ == 32) poner16(e + 20, (uint16_t)(apunta >> 16));
                poner16(e + 22, hora);
                poner16(e + 24, fecha);
                poner16(e + 16, fecha);
                poner16(e + 18, fecha);
                poner16(e + 14, hora);
                poner16(e + 26, (uint16_t)apunta);
            }
            ok = ok && crear_entrada(dir, p, largo, ATR_DIRECTORIO, c, &f);
            if (!ok) {
                liberar_cadena(c);
                sincronizar();
                return false;
            }
            if (!sincronizar()) return false;
            dir = c;
        }
        if (ultima) return true;
        p = sig;
        largo = largo_sig;
    }
}

bool SdFat::remove(const char *path)
{
    File f;
    uint32_t padre;
    const char *u;
    size_t l;
    if (!resolver(path, &f, &padre, &u, &l) || !f.isFile() || (f.atributos_ & ATR_SOLO_LECTURA)) return false;
    for (uint32_t i = f.primera_; i <= f.entrada_; i++) {
        uint8_t *e = entrada(padre, i, true);
        if (!e) return false;
        e[0] = BORRADA;
    }
    bool ok = f.primer_cluster_ == 0 || liberar_cadena(f.primer_cluster_);
    return sincronizar() && ok;
}

bool SdFat::rmdir(const char *path)
{
    File f, hijo;
    uint32_t padre;
    const char *u;
    size_t l;
    if (!resolver(path, &f, &padre, &u, &l) || !f.isSubDir()) return false;
    uint32_t i = 0;
    bool fin;
    if (leer_entrada(f.primer_cluster_, &i, &hijo, &fin) || !fin) return false;
    for (uint32_t k = f.primera_; k <= f.entrada_; k++) {
        uint8_t *e = entrada(padre, k, true);
        if (!e) return false;
        e[0] = BORRADA;
    }
    bool ok = liberar_cadena(f.primer_cluster_);
    return sincronizar() && ok;
}

File SdFat::open(const char *path, uint16_t oflag)
{
    File f;
    f.open(this, path, oflag);
    return f;
}

int32_t SdFat::contar_clusters_libres(volatile uint8_t *cuenta_atras)
{
    if (!montado_ || (tipo_fat_ != 16 && tipo_fat_ != 32)) return -1;
    if (!vaciar(cache_fat_)) return -1;
    uint32_t por_bloque = tipo_fat_ == 16 ? 256 : 128;
    uint32_t total = clusters_ + 2;
    uint32_t libres = 0;
    for (uint32_t b = 0; b * por_bloque < total; b++) {
        if (*cuenta_atras == 0) return -1;
        sodaq_wdt_reset();
        if (!leer_cache(cache_fat_, inicio_fat_ + b, false)) return -1;
        for (uint32_t k = 0; k < por_bloque; k++) {
            uint32_t c = b * por_bloque + k;
            if (c < 2) continue;
            if (c >= total) break;
            uint32_t v = tipo_fat_ == 16 ? le16(cache_fat_.datos + 2 * k) : le32(cache_fat_.datos + 4 * k) & 0x0FFFFFFF;
            if (v == 0) libres++;
        }
    }
    if (libres != libres_) {
        libres_ = libres;
        fsinfo_sucio_ = true;
        escribir_fsinfo();
    }
    return (int32_t)libres;
}
