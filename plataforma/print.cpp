// Text formatting of the serial ports, as the board runtime's Print class does it.
#include "plataforma.h"

#include <math.h>
#include <string.h>

size_t Print::write(const uint8_t *datos, size_t cantidad)
{
    size_t n = 0;
    for (size_t i = 0; i < cantidad; i++) n += write(datos[i]);
    return n;
}

size_t Print::write(const char *texto)
{
    if (!texto) return 0;
    return write((const uint8_t *)texto, strlen(texto));
}

size_t Print::imprimir_sin_signo(unsigned long long valor, int base)
{
    if (base < 2 || base > 36) base = 10;
    char cifras[66];
    int n = 0;
    do {
        unsigned d = (unsigned)(valor % (unsigned)base);
        cifras[n++] = (char)(d < 10 ? '0' + d : 'A' + d - 10);
        valor /= (unsigned)base;
    } while (valor != 0);
    size_t escritos = 0;
    while (n > 0) escritos += write((uint8_t)cifras[--n]);
    return escritos;
}

size_t Print::imprimir_con_signo(long long valor, int base)
{
    if (base == 10 && valor < 0) {
        size_t n = write((uint8_t)'-');
        return n + imprimir_sin_signo(0ULL - (unsigned long long)valor, base);
    }
    return imprimir_sin_signo((unsigned long long)valor, base);
}

size_t Print::print(const char *texto) { return write(texto); }
size_t Print::print(const String &texto) { return write(texto.c_str()); }
size_t Print::print(char caracter) { return write((uint8_t)caracter); }
size_t Print::print(signed char valor, int base) { return imprimir_con_signo(valor, base); }
size_t Print::print(unsigned char valor, int base) { return imprimir_sin_signo(valor, base); }
size_t Print::print(short valor, int base) { return imprimir_con_signo(valor, base); }
size_t Print::print(unsigned short valor, int base) { return imprimir_sin_signo(valor, base); }
size_t Print::print(int valor, int base) { return imprimir_con_signo(valor, base); }
size_t Print::print(unsigned int valor, int base) { return imprimir_sin_signo(valor, base); }
size_t Print::print(long valor, int base) { return imprimir_con_signo(valor, base); }
size_t Print::print(unsigned long valor, int base) { return imprimir_sin_signo(valor, base); }
size_t Print::print(long long valor, int base) { return imprimir_con_signo(valor, base); }
size_t Print::print(unsigned long long valor, int base) { return imprimir_sin_signo(valor, base); }

// As the board runtime does it: sign, integer part, then each decimal digit
// after rounding at the last decimal shown.
size_t Print::print(double valor, int decimales)
{
    if (isnan(valor)) return write("nan");
    if (isinf(valor)) return write("inf");
    if (valor > 4294967040.0 || valor < -4294967040.0) return write("ovf");
    if (decimales < 0) decimales = 0;
    size_t n = 0;
    if (valor < 0.0) {
        n += write((uint8_t)'-');
        valor = -valor;
    }
    double redondeo = 0.5;
    for (int i = 0; i < decimales; i++) redondeo /= 10.0;
    valor += redondeo;
    unsigned long entero = (unsigned long)valor;
    double resto = valor - (double)entero;
    n += imprimir_sin_signo(entero, 10);
    if (decimales > 0) n += write((uint8_t)'.');
    while (decimales-- > 0) {
        resto *= 10.0;
        unsigned int cifra = (unsigned int)resto;
        n += write((uint8_t)('0' + cifra));
        resto -= cifra;
    }
    return n;
}

size_t Print::println() { return write((uint8_t)'\r') + write((uint8_t)'\n'); }
size_t Print::println(const char *texto) { return print(texto) + println(); }
size_t Print::println(const String &texto) { return print(texto) + println(); }
size_t Print::println(char caracter) { return print(caracter) + println(); }
size_t Print::println(signed char valor, int base) { return print(valor, base) + println(); }
size_t Print::println(unsigned char valor, int base) { return print(valor, base) + println(); }
size_t Print::println(short valor, int base) { return print(valor, base) + println(); }
size_t Print::println(unsigned short valor, int base) { return print(valor, base) + println(); }
size_t Print::println(int valor, int base) { return print(valor, base) + println(); }
size_t Print::println(unsigned int valor, int base) { return print(valor, base) + println(); }
size_t Print::println(long valor, int base) { return print(valor, base) + println(); }
size_t Print::println(unsigned long valor, int base) { return print(valor, base) + println(); }
size_t Print::println(long long valor, int base) { return print(valor, base) + println(); }
size_t Print::println(unsigned long long valor, int base) { return print(valor, base) + println(); }
size_t Print::println(double valor, int decimales) { return print(valor, decimales) + println(); }
