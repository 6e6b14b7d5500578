"""The image checks of make firmware: the vector table test, the origin of
every link input, the heap model and the requests of the worst interval."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import imagen_firmware as imf  # noqa: E402


def tabla(sp=0x20008000, reset=0x2101, otro=0x2201):
    v = [sp, reset, otro, otro] + [0] * 7 + [otro, 0, 0, otro, otro] + [otro] * 28
    return struct.pack("<44I", *v)


SIM = {"__image_end": 0x10000, "__StackTop": 0x20008000}
SECS = {".text": {"vma": 0x2000, "size": 0x100, "lma": 0x2000}}


class Vectores(unittest.TestCase):
    def test_una_tabla_correcta_pasa(self):
        fallos, palabras = imf.comprobar_vectores(tabla(), SIM, SECS)
        self.assertEqual(fallos, [])
        self.assertEqual(palabras[1], 0x2101)

    def test_cada_defecto_se_nombra(self):
        self.assertTrue(imf.comprobar_vectores(tabla(sp=0x20007FF0), SIM, SECS)[0])
        self.assertTrue(imf.comprobar_vectores(tabla(reset=0x2100), SIM, SECS)[0])    # not Thumb
        self.assertTrue(imf.comprobar_vectores(tabla(reset=0x1001), SIM, SECS)[0])    # in the bootloader
        self.assertTrue(imf.comprobar_vectores(tabla(otro=0x20001), SIM, SECS)[0])    # beyond the image
        otra = {".text": {"vma": 0x0, "size": 0x100, "lma": 0x0}}
        self.assertTrue(imf.comprobar_vectores(tabla(), SIM, otra)[0])


class Origenes(unittest.TestCase):
    def test_modulos_plataforma_y_bibliotecas(self):
        raiz = imf.RAIZ.lstrip("/") + "/"
        obj = "CMakeFiles/olas.elf.dir/" + raiz + "%s.obj"
        self.assertEqual(imf.categoria(obj % "waves/ola.cpp", raiz), "waves")
        self.assertEqual(imf.categoria(obj % "plataforma/sd/fat_tablas.cpp", raiz), "card library (plataforma/sd)")
        self.assertEqual(imf.categoria(obj % "plataforma/print.cpp", raiz), "text output (plataforma: Print, String)")
        self.assertEqual(imf.categoria("CMakeFiles/olas.elf.dir/arranque.c.obj", raiz),
                         "board runtime (plataforma/samd21)")
        lib = "/usr/lib/gcc/arm-none-eabi/12.2.1/../../../arm-none-eabi/lib/thumb/v6-m/nofp/"
        self.assertEqual(imf.categoria(lib + "libc_nano.a(lib_a-memcpy.o)", raiz), "C library (newlib-nano)")
        self.assertEqual(imf.categoria(lib + "libm.a(lib_a-s_atan.o)", raiz), "maths (libm)")
        self.assertEqual(imf.categoria("/usr/lib/gcc/arm-none-eabi/12.2.1/thumb/v6-m/nofp/libgcc.a(_arm_addsubdf3.o)",
                                       raiz), "maths (soft-float, libgcc)")

    def test_lo_ajeno_no_tiene_fila(self):
        raiz = imf.RAIZ.lstrip("/") + "/"
        self.assertIsNone(imf.categoria("/opt/otro/libfoo.a(x.o)", raiz))
        self.assertIsNone(imf.categoria("CMakeFiles/olas.elf.dir/" + raiz + "simulador/main.cpp.obj", raiz))
        self.assertIsNone(imf.categoria("CMakeFiles/olas.elf.dir/" + raiz + "plataforma/host/placa_host.cpp.obj",
                                        raiz))
        self.assertIsNone(imf.categoria("CMakeFiles/olas.elf.dir/" + raiz + "waves/tests/ola_test.cpp.obj", raiz))
        self.assertIsNone(imf.categoria("otro.o", raiz))


class Monticulo(unittest.TestCase):
    def test_primer_ajuste_reutiliza_y_une_huecos(self):
        m = imf.MonticuloNano()
        a = m.malloc(100)
        b = m.malloc(100)
        c = m.malloc(100)
        self.assertEqual(m.ruptura, 3 * 108)
        m.free(a)
        m.free(b)  # merged with a: 216 bytes free at the bottom
        d = m.malloc(200)
        self.assertEqual(m.ruptura, 3 * 108)
        self.assertLess(d, c)

    def test_realloc_conserva_el_bloque_mientras_cabe(self):
        m = imf.MonticuloNano()
        a = m.realloc(None, 2)
        self.assertEqual(m.realloc(a, 6), a)   # 12-byte block: 8 usable
        self.assertEqual(m.realloc(a, 8), a)
        self.assertNotEqual(m.realloc(a, 10), a)

    def test_el_intervalo_peor_crece_ola_a_ola(self):
        olas, p = imf.peticiones_intervalo()
        self.assertEqual(olas, 1200)
        crecer = [n for (t, r, n) in p if t == 2 and r == 0]
        self.assertEqual(max(crecer), (olas + 1) * 2)
        self.assertEqual(sum(1 for (t, r, n) in p if t == 2 and r in range(4)), 2 * 4 * olas + 12)
        # The need is more than what the arrays hold, and within the RAM.
        necesidad = imf.necesidad_modelo(p)
        self.assertGreater(necesidad, 4 * (olas + 1) * 2)
        self.assertLess(necesidad, 32768)


if __name__ == "__main__":
    unittest.main()
