// The volume's block cache and its file allocation table: reading and
// writing entries, taking and freeing clusters and chains.
#include <string.h>

#include "SdFat.h"
#include "bloques_sd.h"
#include "fat_comun.h"

using namespace fat_comun;

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
