// A small growable text string on the heap, as the board runtime's String.
// Used for the card's directory and file paths.
#ifndef PLATAFORMA_WSTRING_H
#define PLATAFORMA_WSTRING_H

#include <stddef.h>
#include <stdint.h>

class String {
public:
    String();
    String(const char *texto);
    String(const String &otro);
    String(char caracter);
    explicit String(unsigned long valor, unsigned char base = 10);
    explicit String(long valor, unsigned char base = 10);
    explicit String(int valor, unsigned char base = 10);
    explicit String(unsigned int valor, unsigned char base = 10);
    ~String();

    String &operator=(const String &otro);
    String &operator=(const char *texto);

    bool concat(const char *texto);
    bool concat(const String &otro) { return concat(otro.c_str()); }
    bool concat(char caracter);
    String &operator+=(const char *texto) { concat(texto); return *this; }
    String &operator+=(const String &otro) { concat(otro); return *this; }
    String &operator+=(char caracter) { concat(caracter); return *this; }

    bool operator==(const char *texto) const;
    bool operator==(const String &otro) const { return *this == otro.c_str(); }
    bool operator!=(const char *texto) const { return !(*this == texto); }
    bool operator!=(const String &otro) const { return !(*this == otro); }

    const char *c_str() const { return datos_ ? datos_ : ""; }
    unsigned int length() const { return longitud_; }
    char operator[](unsigned int indice) const;
    char charAt(unsigned int indice) const { return (*this)[indice]; }
    String substring(unsigned int desde) const;
    String substring(unsigned int desde, unsigned int hasta) const;
    int indexOf(char caracter) const;
    // False when the heap had no room: the text then stays as it was.
    bool reserve(unsigned int capacidad);

private:
    void asignar(const char *texto, unsigned int longitud);
    char *datos_;
    unsigned int longitud_;
    unsigned int capacidad_;
};

String operator+(const String &a, const String &b);
String operator+(const String &a, const char *b);
String operator+(const char *a, const String &b);

#endif
