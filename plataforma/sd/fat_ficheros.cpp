// An open file or directory: its clusters, reading, writing, its entry kept
// up to date, and its size cut back.
#include <string.h>

#include "SdFat.h"
#include "bloques_sd.h"
#include "fat_comun.h"

using namespace fat_comun;

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
