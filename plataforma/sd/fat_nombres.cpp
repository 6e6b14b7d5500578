// Short (8.3) and long names: which characters each allows, the short name
// a long one gets, and the check sum that ties a long name to its entry.
#include <string.h>

#include "fat_comun.h"

namespace fat_comun {

uint8_t suma_nombre_corto(const uint8_t *n)
{
    uint8_t s = 0;
    for (int i = 0; i < 11; i++) s = (uint8_t)(((s & 1) << 7) + (s >> 1) + n[i]);
    return s;
}


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

}  // namespace fat_comun
