// The FAT16/FAT32 volume and its files and directories.
#include <string.h>

#include "SdFat.h"
#include "bloques_sd.h"

namespace {

constexpr uint8_t ATR_SOLO_LECTURA = 0x01;
constexpr uint8_t ATR_ETIQUETA = 0x08;
constexpr uint8_t ATR_DIRECTORIO = 0x10;
constexpr uint8_t ATR_NOMBRE_LARGO = 0x0F;
constexpr uint8_t BORRADA = 0xE5;
constexpr uint8_t CASO_BASE = 0x08, CASO_EXT = 0x10;
constexpr uint32_t MAX_ENTRADAS_DIR = 65536;
// Offsets of the 13 name characters in a long-name entry.
const uint8_t POS_LARGO[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }
void poner16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
void poner32(uint8_t *p, uint32_t v) { for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i)); }

uint8_t suma_nombre_corto(const uint8_t *n)
{
    uint8_t s = 0;
    for (int i = 0; i < 11; i++) s = (uint8_t)(((s & 1) << 7) + (s >> 1) + n[i]);
    return s;
}

char mayuscula(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 32) : c; }
bool es_minuscula(char c) { return c >= 'a' && c <= 'z'; }
bool es_mayuscula(char c) { return c >= 'A' && c <= 'Z'; }

// Characters allowed in an 8.3 name besides letters and digits.
bool valido_corto(char c)
{
    unsigned char u = (unsigned char)c;
    if (u >= 0x80) return false;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != 0;
}

bool valido_largo(char c)
{
    unsigned char u = (unsigned char)c;
    if (u < 0x20) return false;
    return strchr("\"*/:<>?\\|", c) == nullptr;
}

bool nombre_valido(const char *n, size_t largo)
{
    if (largo == 0 || largo > 255) return false;
    for (size_t i = 0; i < largo; i++)
        if (!valido_largo(n[i])) return false;
    if (n[largo - 1] == '.' || n[largo - 1] == ' ') return false;
    if ((largo == 1 && n[0] == '.') || (largo == 2 && n[0] == '.' && n[1] == '.')) return false;
    return true;
}

// The name as an 8.3 entry, when it is one: parts of uniform case.
bool nombre_corto_exacto(const char *n, size_t largo, uint8_t *corto, uint8_t *caso)
{
    memset(corto, ' ', 11);
    *caso = 0;
    size_t punto = largo;
    for (size_t i = 0; i < largo; i++)
        if (n[i] == '.') {
            if (punto != largo) return false;
            punto = i;
        }
    size_t base = punto, ext = punto == largo ? 0 : largo - punto - 1;
    if (base == 0 || base > 8 || ext > 3 || (punto != largo && ext == 0)) return false;
    bool min[2] = {false, false}, may[2] = {false, false};
    for (size_t i = 0; i < largo; i++) {
        if (i == punto) continue;
        if (!valido_corto(n[i])) return false;
        int parte = i > punto ? 1 : 0;
        if (es_minuscula(n[i])) min[parte] = true;
        if (es_mayuscula(n[i])) may[parte] = true;
        corto[parte ? 8 + (i - punto - 1) : i] = (uint8_t)mayuscula(n[i]);
    }
    if ((min[0] && may[0]) || (min[1] && may[1])) return false;
    if (min[0]) *caso |= CASO_BASE;
    if (min[1]) *caso |= CASO_EXT;
    return true;
}

// The basis of a generated short name: upper case, allowed characters only.
void base_generada(const char *n, size_t largo, uint8_t *corto, size_t *largo_base)
{
    memset(corto, ' ', 11);
    size_t punto = largo;
    for (size_t i = largo; i > 0; i--)
        if (n[i - 1] == '.') { punto = i - 1; break; }
    size_t k = 0;
    for (size_t i = 0; i < punto && k < 8; i++) {
        char c = n[i];
        if (c == ' ' || c == '.') continue;
        corto[k++] = (uint8_t)(valido_corto(c) ? mayuscula(c) : '_');
    }
    if (k == 0) corto[k++] = '_';
    *largo_base = k;
    size_t e = 0;
    for (size_t i = punto + 1; i < largo && e < 3; i++) {
        char c = n[i];
        if (c == ' ') continue;
        corto[8 + e++] = (uint8_t)(valido_corto(c) ? mayuscula(c) : '_');
    }
}

bool igual_sin_caso(const char *a, size_t la, const char *b, size_t lb)
{
    if (la != lb) return false;
    for (size_t i = 0; i < la; i++)
        if (mayuscula(a[i]) != mayuscula(b[i])) return false;
    return true;
}

// The short name as text (NAME.EXT), with its lower-case flags.
size_t texto_corto(const uint8_t *corto, uint8_t caso, char *t)
{
    size_t k = 0;
    for (int i = 0; i < 8 && corto[i] != ' '; i++) {
        char c = (char)(i == 0 && corto[0] == 0x05 ? 0xE5 : corto[i]);
        t[k++] = (caso & CASO_BASE) && es_mayuscula(c) ? (char)(c + 32) : c;
    }
    if (corto[8] != ' ') {
        t[k++] = '.';
        for (int i = 8; i < 11 && corto[i] != ' '; i++) {
            char c = (char)corto[i];
            t[k++] = (caso & CASO_EXT) && es_mayuscula(c) ? (char)(c + 32) : c;
        }
    }
    t[k] = 0;
    return k;
}

}  // namespace

// ================================================================ the volume

bool SdFat::leer_cache(Cache &c, uint32_t bloque, bool para_escribir)
{
    if (c.bloque != bloque) {
        if (!vaciar(c)) return false;
        if (!tarjeta_.readBlock(bloque, c.datos)) {
            c.bloque = UINT32_MAX;
            return false;
        }
        c.bloque = bloque;
        c.propietario = 0;
    }
    if (para_escribir) c.sucio = true;
    return true;
}

bool SdFat::vaciar(Cache &c)
{
    if (!c.sucio) return true;
    c.sucio = false;
    bool ok = tarjeta_.writeBlock(c.bloque, c.datos);
    // The copies of the FAT follow the first one.
    if (ok && &c == &cache_fat_)
        for (uint8_t k = 1; k < num_fats_ && ok; k++) ok = tarjeta_.writeBlock(c.bloque + k * bloques_fat_, c.datos);
    // A block the card did not take is lost, not retried for ever; a file's
    // lost block is noted so that its size never counts it.
    if (!ok) {
        if (&c == &cache_ && c.propietario != 0) anotar_perdida(c.propietario, c.desplazamiento);
        c.bloque = UINT32_MAX;
        c.propietario = 0;
    }
    return ok;
}

void SdFat::anotar_perdida(uint32_t cluster, uint32_t desde)
{
    for (Perdida &p : perdidas_) {
        if (p.cluster == cluster) {
            if (desde < p.desde) p.desde = desde;
            return;
        }
    }
    for (Perdida &p : perdidas_) {
        if (p.cluster == 0) {
            p.cluster = cluster;
            p.desde = desde;
            return;
        }
    }
    perdidas_[turno_perdida_] = Perdida{cluster, desde};
    turno_perdida_ = (uint8_t)((turno_perdida_ + 1) % 4);
}

bool SdFat::tomar_perdida(uint32_t cluster, uint32_t *desde)
{
    if (cluster == 0) return false;
    for (Perdida &p : perdidas_) {
        if (p.cluster == cluster) {
            *desde = p.desde;
            p = Perdida{};
            return true;
        }
    }
    return false;
}

bool SdFat::leer_fat(uint32_t cluster, uint32_t *valor)
{
    if (cluster < 2 || cluster > clusters_ + 1) return false;
    uint32_t desp = cluster * (tipo_fat_ == 16 ? 2 : 4);
    if (!leer_cache(cache_fat_, inicio_fat_ + desp / 512, false)) return false;
    const uint8_t *p = cache_fat_.datos + desp % 512;
    *valor = tipo_fat_ == 16 ? le16(p) : (le32(p) & 0x0FFFFFFF);
    return true;
}

bool SdFat::escribir_fat(uint32_t cluster, uint32_t valor)
{
    if (cluster < 2 || cluster > clusters_ + 1) return false;
    uint32_t desp = cluster * (tipo_fat_ == 16 ? 2 : 4);
    if (!leer_cache(cache_fat_, inicio_fat_ + desp / 512, true)) return false;
    uint8_t *p = cache_fat_.datos + desp % 512;
    if (tipo_fat_ == 16) poner16(p, (uint16_t)valor);
    else poner32(p, (le32(p) & 0xF0000000u) | (valor & 0x0FFFFFFF));
    return true;
}

bool SdFat::asignar_cluster(uint32_t anterior, uint32_t *nuevo)
{
    if (libres_ == 0) return false;
    uint32_t c = siguiente_libre_;
    if (c < 2 || c > clusters_ + 1) c = 2;
    for (uint32_t n = 0; n < clusters_; n++) {
        uint32_t v;
        if (!leer_fat(c, &v)) return false;
        if (v == 0) {
            if (!escribir_fat(c, 0x0FFFFFFF)) return false;
            if (anterior && !escribir_fat(anterior, c)) return false;
            if (libres_ != 0xFFFFFFFF) libres_--;
            siguiente_libre_ = c + 1;
            fsinfo_sucio_ = true;
            *nuevo = c;
            return true;
        }
        if (++c > clusters_ + 1) c = 2;
    }
    libres_ = 0;
    fsinfo_sucio_ = true;
    return false;
}

bool SdFat::liberar_cadena(uint32_t cluster)
{
    for (uint32_t n = 0; n <= clusters_ && cluster >= 2 && cluster <= clusters_ + 1; n++) {
        uint32_t siguiente;
        if (!leer_fat(cluster, &siguiente) || !escribir_fat(cluster, 0)) return false;
        if (libres_ != 0xFFFFFFFF) libres_++;
        if (cluster < siguiente_libre_) siguiente_libre_ = cluster;
        fsinfo_sucio_ = true;
        if (es_fin(siguiente)) break;
        cluster = siguiente;
    }
    return true;
}

bool SdFat::limpiar_cluster(uint32_t cluster)
{
    uint32_t b = bloque_de_cluster(cluster);
    for (uint8_t i = 0; i < por_cluster_; i++) {
        if (!vaciar(cache_)) return false;
        memset(cache_.datos, 0, 512);
        cache_.bloque = b + i;
        cache_.sucio = true;
    }
    return vaciar(cache_);
}

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

// ================================================================ files

bool File::open(SdFat *volumen, const char *path, uint16_t oflag)
{
    if (isOpen() || !volumen) return false;
    uint32_t padre;
    const char *ultimo;
    size_t largo;
    uint16_t modo = oflag & O_ACCMODE;
    bool escribe = modo == O_WRONLY || modo == O_RDWR;
    if (volumen->resolver(path, this, &padre, &ultimo, &largo)) {
        if ((oflag & O_CREAT) && (oflag & O_EXCL)) { tipo_ = CERRADO; return false; }
        if (isDir()) {
            if (escribe) { tipo_ = CERRADO; return false; }
        } else if (escribe && (atributos_ & 0x01)) {
            tipo_ = CERRADO;
            return false;
        }
        flags_ = oflag;
        vol_ = volumen;
        if (escribe && (oflag & O_TRUNC) && primer_cluster_ != 0) {
            uint32_t c = primer_cluster_;
            primer_cluster_ = 0;
            tamano_ = 0;
            entrada_sucia_ = true;
            bool ok = volumen->liberar_cadena(c);
            if (!sync() || !ok) { tipo_ = CERRADO; return false; }
        }
    } else {
        if (!ultimo || !(oflag & O_CREAT) || !escribe) { tipo_ = CERRADO; return false; }
        if (!volumen->crear_entrada(padre, ultimo, largo, 0x20, 0, this) || !volumen->sincronizar()) {
            tipo_ = CERRADO;
            volumen->sincronizar();
            return false;
        }
        flags_ = oflag;
    }
    posicion_ = (oflag & O_AT_END) ? tamano_ : 0;
    error_escritura_ = false;
    return true;
}

bool File::openNext(File *dir, uint16_t oflag)
{
    if (isOpen() || !dir || !dir->isDir() || !dir->vol_) return false;
    uint32_t id = dir->tipo_ == RAIZ ? 0 : dir->primer_cluster_;
    uint32_t i = dir->posicion_ / 32;
    bool fin;
    bool ok = dir->vol_->leer_entrada(id, &i, this, &fin);
    dir->posicion_ = i * 32;
    if (!ok) { tipo_ = CERRADO; return false; }
    flags_ = oflag & ~(O_CREAT | O_TRUNC);
    if (isDir()) flags_ = O_RDONLY;
    posicion_ = (oflag & O_AT_END) ? tamano_ : 0;
    return true;
}

bool File::getName(char *name, size_t size)
{
    if (!name || size == 0) return false;
    name[0] = 0;
    if (!isOpen()) return false;
    if (tipo_ == RAIZ) {
        if (size < 2) return false;
        name[0] = '/';
        name[1] = 0;
        return true;
    }
    if (nombre_largo_ && leer_nombre_largo(name, size)) return true;
    char t[13];
    size_t l = texto_corto(nombre_corto_, caso_, t);
    if (l + 1 > size) return false;
    memcpy(name, t, l + 1);
    return true;
}

// The long name from its entries before the short one: false when it does not fit.
bool File::leer_nombre_largo(char *name, size_t size)
{
    size_t k = 0;
    for (uint32_t i = entrada_; i > primera_; i--) {
        const uint8_t *e = vol_->entrada(padre_cluster_, i - 1, false);
        if (!e) return false;
        for (int j = 0; j < 13; j++) {
            uint16_t u = le16(e + POS_LARGO[j]);
            if (u == 0 || u == 0xFFFF) {
                name[k] = 0;
                return k > 0;
            }
            if (k + 1 >= size) return false;
            name[k++] = u < 0x100 ? (char)u : '?';
        }
    }
    if (k >= size) return false;
    name[k] = 0;
    return k > 0;
}

bool File::getSFN(char *name)
{
    if (!isOpen() || tipo_ == RAIZ) return false;
    texto_corto(nombre_corto_, 0, name);
    return true;
}

bool File::cluster_de(uint32_t indice, bool crear, uint32_t *cluster)
{
    if (primer_cluster_ == 0) {
        if (!crear || !vol_->asignar_cluster(0, &primer_cluster_)) return false;
        entrada_sucia_ = true;
        cluster_actual_ = 0;
    }
    if (cluster_actual_ == 0 || indice < indice_cluster_) {
        cluster_actual_ = primer_cluster_;
        indice_cluster_ = 0;
    }
    while (indice_cluster_ < indice) {
        uint32_t s;
        if (!vol_->leer_fat(cluster_actual_, &s)) return false;
        if (s < 2 || vol_->es_fin(s)) {
            if (!crear || !vol_->asignar_cluster(cluster_actual_, &s)) return false;
        } else if (s > vol_->clusters_ + 1) {
            return false;
        }
        cluster_actual_ = s;
        indice_cluster_++;
    }
    *cluster = cluster_actual_;
    return true;
}

size_t File::write(uint8_t byte) { return write(&byte, 1); }

size_t File::write(const char *texto) { return texto ? write(texto, strlen(texto)) : 0; }

size_t File::write(const void *buf, size_t count)
{
    uint16_t modo = flags_ & O_ACCMODE;
    if (tipo_ != FICHERO || (modo != O_WRONLY && modo != O_RDWR) || !buf) {
        error_escritura_ = true;
        return 0;
    }
    if (flags_ & O_APPEND) posicion_ = tamano_;
    if (count > 0xFFFFFFFFu - posicion_) count = 0xFFFFFFFFu - posicion_;
    const uint8_t *src = static_cast<const uint8_t *>(buf);
    uint32_t por_cluster = (uint32_t)vol_->por_cluster_ * 512;
    size_t hechos = 0;
    while (hechos < count) {
        uint32_t c;
        if (!cluster_de(posicion_ / por_cluster, true, &c)) break;
        uint32_t bloque = vol_->bloque_de_cluster(c) + (posicion_ % por_cluster) / 512;
        uint32_t desp = posicion_ % 512;
        size_t n = 512 - desp;
        if (n > count - hechos) n = count - hechos;
        SdFat::Cache &k = vol_->cache_;
        if (desp == 0 && posicion_ >= tamano_ && k.bloque != bloque) {
            // A block past the end of the file: nothing to keep from it.
            if (!vol_->vaciar(k)) break;
            memset(k.datos, 0, 512);
            k.bloque = bloque;
            k.sucio = true;
        } else if (!vol_->leer_cache(k, bloque, true)) {
            break;
        }
        k.propietario = primer_cluster_;
        k.desplazamiento = posicion_ - desp;
        memcpy(k.datos + desp, src + hechos, n);
        hechos += n;
        posicion_ += (uint32_t)n;
        if (posicion_ > tamano_) tamano_ = posicion_;
        entrada_sucia_ = true;
    }
    if (hechos < count) error_escritura_ = true;
    return hechos;
}

int File::read()
{
    uint8_t b;
    return read(&b, 1) == 1 ? b : -1;
}

int File::read(void *buf, size_t count)
{
    uint16_t modo = flags_ & O_ACCMODE;
    if (tipo_ != FICHERO || (modo != O_RDONLY && modo != O_RDWR)) return -1;
    if (count > tamano_ - posicion_) count = tamano_ - posicion_;
    uint8_t *dst = static_cast<uint8_t *>(buf);
    uint32_t por_cluster = (uint32_t)vol_->por_cluster_ * 512;
    size_t hechos = 0;
    while (hechos < count) {
        uint32_t c;
        if (!cluster_de(posicion_ / por_cluster, false, &c)) return -1;
        uint32_t bloque = vol_->bloque_de_cluster(c) + (posicion_ % por_cluster) / 512;
        if (!vol_->leer_cache(vol_->cache_, bloque, false)) return -1;
        uint32_t desp = posicion_ % 512;
        size_t n = 512 - desp;
        if (n > count - hechos) n = count - hechos;
        memcpy(dst + hechos, vol_->cache_.datos + desp, n);
        hechos += n;
        posicion_ += (uint32_t)n;
    }
    return (int)hechos;
}

int File::available()
{
    if (tipo_ != FICHERO) return 0;
    uint32_t n = tamano_ - posicion_;
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : (int)n;
}

bool File::seekSet(uint32_t pos)
{
    if (!isOpen() || (tipo_ == FICHERO && pos > tamano_)) return false;
    posicion_ = pos;
    return true;
}

bool File::escribir_entrada()
{
    uint8_t *e = vol_->entrada(padre_cluster_, entrada_, true);
    if (!e || memcmp(e, nombre_corto_, 11) != 0) {
        if (e) vol_->cache_.sucio = false;
        return false;
    }
    uint16_t fecha, hora;
    vol_->fecha_hora(&fecha, &hora);
    if (vol_->tipo_fat_ == 32) poner16(e + 20, (uint16_t)(primer_cluster_ >> 16));
    poner16(e + 26, (uint16_t)primer_cluster_);
    poner32(e + 28, tamano_);
    poner16(e + 22, hora);
    poner16(e + 24, fecha);
    poner16(e + 18, fecha);
    e[11] |= 0x20;
    return true;
}

bool File::sync()
{
    if (!isOpen()) return false;
    bool ok = true;
    if (tipo_ == FICHERO && entrada_sucia_) {
        // The data blocks first, then the FAT, then the size in the entry;
        // a size that would count a block the card refused is cut back to
        // that block, with the clusters after it.
        ok = vol_->vaciar(vol_->cache_) && vol_->vaciar(vol_->cache_fat_);
        uint32_t desde;
        if (vol_->tomar_perdida(primer_cluster_, &desde)) {
            ok = false;
            if (desde < tamano_) recortar(desde);
        }
        ok = escribir_entrada() && ok;
        entrada_sucia_ = false;
    }
    ok = vol_->sincronizar() && ok;
    if (!ok) error_escritura_ = true;
    return ok && !error_escritura_;
}

// Cuts the file to a shorter size: the clusters beyond it go back to the
// free space.
bool File::recortar(uint32_t tamano)
{
    uint32_t por_cluster = (uint32_t)vol_->por_cluster_ * 512;
    bool ok = true;
    if (primer_cluster_ != 0 && tamano == 0) {
        ok = vol_->liberar_cadena(primer_cluster_);
        primer_cluster_ = 0;
    } else if (primer_cluster_ != 0) {
        uint32_t ultimo, siguiente;
        ok = cluster_de((tamano - 1) / por_cluster, false, &ultimo) && vol_->leer_fat(ultimo, &siguiente);
        if (ok && siguiente >= 2 && !vol_->es_fin(siguiente))
            ok = vol_->escribir_fat(ultimo, 0x0FFFFFFF) && vol_->liberar_cadena(siguiente);
    }
    tamano_ = tamano;
    if (posicion_ > tamano_) posicion_ = tamano_;
    cluster_actual_ = 0;
    indice_cluster_ = 0;
    entrada_sucia_ = true;
    return ok;
}

bool File::close()
{
    if (!isOpen()) return false;
    bool ok = sync();
    tipo_ = CERRADO;
    return ok;
}
