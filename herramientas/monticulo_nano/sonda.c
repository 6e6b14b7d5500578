/* The C library's own allocator (newlib-nano's malloc, realloc and free, as
 * linked into the firmware image) replaying a list of requests, to measure
 * the heap a sequence needs. Run under an emulator by
 * herramientas/imagen_firmware.py: it writes the list, calls
 * sonda_ejecutar(list) and reads the highest break reached.
 *
 * A request is {kind, slot, bytes}: 1 malloc, 2 realloc, 3 free; 0 ends. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

struct Peticion {
    uint32_t tipo, ranura, bytes;
};

#define RANURAS 64

extern char __sonda_heap[];
extern char __sonda_heap_fin[];

void *sonda_ranuras[RANURAS];
char *sonda_ruptura = __sonda_heap;
char *sonda_maxima = __sonda_heap;
uint32_t sonda_fallos = 0;

void *_sbrk(ptrdiff_t n)
{
    char *anterior = sonda_ruptura;
    if (n > __sonda_heap_fin - anterior) {
        errno = ENOMEM;
        return (void *)-1;
    }
    sonda_ruptura = anterior + n;
    if (sonda_ruptura > sonda_maxima) sonda_maxima = sonda_ruptura;
    return anterior;
}

uint32_t sonda_ejecutar(const struct Peticion *p)
{
    for (; p->tipo != 0; p++) {
        void **r = &sonda_ranuras[p->ranura % RANURAS];
        if (p->tipo == 1) {
            *r = malloc(p->bytes);
            if (!*r) sonda_fallos++;
        } else if (p->tipo == 2) {
            void *n = realloc(*r, p->bytes);
            if (n) *r = n;
            else sonda_fallos++;
        } else if (p->tipo == 3) {
            free(*r);
            *r = 0;
        }
    }
    return (uint32_t)(sonda_maxima - __sonda_heap);
}
