#include "wstring.h"

#include <stdlib.h>
#include <string.h>

namespace {
void texto_de_numero(char *destino, unsigned long valor, unsigned char base, bool negativo)
{
    char cifras[40];
    int n = 0;
    if (base < 2 || base > 16) base = 10;
    do {
        cifras[n++] = "0123456789abcdef"[valor % base];
        valor /= base;
    } while (valor != 0 && n < 38);
    int i = 0;
    if (negativo) destino[i++] = '-';
    while (n > 0) destino[i++] = cifras[--n];
    destino[i] = '\0';
}
}  // namespace

String::String() : datos_(nullptr), longitud_(0), capacidad_(0) {}
String::String(const char *texto) : String() { if (texto) asignar(texto, (unsigned int)strlen(texto)); }
String::String(const String &otro) : String() { asignar(otro.c_str(), otro.longitud_); }
String::String(char caracter) : String() { char t[2] = {caracter, 0}; asignar(t, 1); }
String::String(unsigned long valor, unsigned char base) : String()
{
    char t[40];
    texto_de_numero(t, valor, base, false);
    asignar(t, (unsigned int)strlen(t));
}
String::String(long valor, unsigned char base) : String()
{
    char t[40];
    if (valor < 0 && base == 10)
        texto_de_numero(t, 0UL - (unsigned long)valor, base, true);
    else
        texto_de_numero(t, (unsigned long)valor, base, false);
    asignar(t, (unsigned int)strlen(t));
}
String::String(int valor, unsigned char base) : String((long)valor, base) {}
String::String(unsigned int valor, unsigned char base) : String((unsigned long)valor, base) {}
String::~String() { free(datos_); }

String &String::operator=(const String &otro)
{
    if (this != &otro) asignar(otro.c_str(), otro.longitud_);
    return *this;
}
String &String::operator=(const char *texto)
{
    asignar(texto ? texto : "", texto ? (unsigned int)strlen(texto) : 0);
    return *this;
}

bool String::reserve(unsigned int capacidad)
{
    if (datos_ && capacidad_ >= capacidad) return true;
    char *nuevo = (char *)realloc(datos_, capacidad + 1);
    if (!nuevo) return false;
    if (!datos_) nuevo[0] = '\0';
    datos_ = nuevo;
    capacidad_ = capacidad;
    return true;
}

void String::asignar(const char *texto, unsigned int longitud)
{
    if (!reserve(longitud)) return;
    memmove(datos_, texto, longitud);
    datos_[longitud] = '\0';
    longitud_ = longitud;
}

bool String::concat(const char *texto)
{
    if (!texto) return false;
    unsigned int n = (unsigned int)strlen(texto);
    if (n == 0) return true;
    if (!reserve(longitud_ + n)) return false;
    memcpy(datos_ + longitud_, texto, n + 1);
    longitud_ += n;
    return true;
}

bool String::concat(char caracter)
{
    char t[2] = {caracter, 0};
    return concat(t);
}

bool String::operator==(const char *texto) const
{
    return strcmp(c_str(), texto ? texto : "") == 0;
}

char String::operator[](unsigned int indice) const
{
    return indice < longitud_ ? datos_[indice] : '\0';
}

String String::substring(unsigned int desde) const { return substring(desde, longitud_); }

String String::substring(unsigned int desde, unsigned int hasta) const
{
    if (desde > hasta) { unsigned int t = desde; desde = hasta; hasta = t; }
    if (hasta > longitud_) hasta = longitud_;
    String resultado;
    if (desde >= hasta) return resultado;
    resultado.asignar(datos_ + desde, hasta - desde);
    return resultado;
}

int String::indexOf(char caracter) const
{
    for (unsigned int i = 0; i < longitud_; i++)
        if (datos_[i] == caracter) return (int)i;
    return -1;
}

String operator+(const String &a, const String &b) { String r(a); r.concat(b); return r; }
String operator+(const String &a, const char *b) { String r(a); r.concat(b); return r; }
String operator+(const char *a, const String &b) { String r(a); r.concat(b); return r; }
