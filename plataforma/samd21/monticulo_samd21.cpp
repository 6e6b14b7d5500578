// The heap of newlib-nano's malloc on the chip: from the end of .bss
// (__HeapBase) up to the bottom of the stack reserve (__HeapLimit, from the
// linker script). A request beyond it is refused (malloc returns null) and
// counted, so the heap never grows into the stack.
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern "C" {
extern uint8_t __HeapBase[];
extern uint8_t __HeapLimit[];

uint8_t *samd21_ruptura_heap = __HeapBase;   // the current heap break
uint32_t samd21_heap_rechazos = 0;           // refused requests

void *_sbrk(ptrdiff_t incremento)
{
    uint8_t *anterior = samd21_ruptura_heap;
    if (incremento > __HeapLimit - anterior || incremento < __HeapBase - anterior) {
        samd21_heap_rechazos++;
        errno = ENOMEM;
        return reinterpret_cast<void *>(-1);
    }
    samd21_ruptura_heap = anterior + incremento;
    return anterior;
}
}
