#include <stdio.h>
#include <string.h>

#include "SdFat.h"

ArduinoOutStream cout(Serial1);
ArduinoOutStream coutTOV(Serial);

void ArduinoOutStream::campo(const char *prefijo, const char *texto)
{
    int largo = (int)(strlen(prefijo) + strlen(texto));
    int relleno = ancho_ > largo ? ancho_ - largo : 0;
    ancho_ = 0;  // the width holds for one item only
    if (!izquierda_)
        for (int i = 0; i < relleno; i++) destino_.write((uint8_t)relleno_);
    destino_.print(prefijo);
    destino_.print(texto);
    if (izquierda_)
        for (int i = 0; i < relleno; i++) destino_.write((uint8_t)relleno_);
}

ArduinoOutStream &ArduinoOutStream::operator<<(char c)
{
    char t[2] = {c, 0};
    campo("", t);
    return *this;
}

ArduinoOutStream &ArduinoOutStream::operator<<(const char *s)
{
    campo("", s ? s : "");
    return *this;
}

ArduinoOutStream &ArduinoOutStream::entero(long long v)
{
    if (v < 0 && base_ == 10) return sin_signo((unsigned long long)(-(v + 1)) + 1, true);
    return sin_signo((unsigned long long)v, false);
}

ArduinoOutStream &ArduinoOutStream::sin_signo(unsigned long long v, bool negativo)
{
    char t[24];
    int k = sizeof t - 1;
    t[k] = 0;
    const char *digitos = mayusculas_ ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        t[--k] = digitos[v % (unsigned)base_];
        v /= (unsigned)base_;
    } while (v);
    const char *prefijo = negativo ? "-" : "";
    if (mostrar_base_ && base_ == 16) prefijo = mayusculas_ ? "0X" : "0x";
    if (mostrar_base_ && base_ == 8 && t[k] != '0') prefijo = "0";
    // Zero fill goes between the sign or base and the digits.
    if (relleno_ == '0' && !izquierda_ && ancho_ > 0) {
        int largo = (int)strlen(prefijo) + (int)(sizeof t - 1 - (size_t)k);
        while (largo < ancho_ && k > 0) { t[--k] = '0'; largo++; }
    }
    campo(prefijo, t + k);
    return *this;
}

ArduinoOutStream &ArduinoOutStream::operator<<(double v)
{
    char t[48];
    int p = precision_ < 0 ? 0 : precision_ > 9 ? 9 : precision_;
    if (v != v) snprintf(t, sizeof t, "nan");
    else if (v > 4294967040.0 || v < -4294967040.0) snprintf(t, sizeof t, "ovf");
    else snprintf(t, sizeof t, "%.*f", p, v);
    campo("", t);
    return *this;
}

ArduinoOutStream &endl(ArduinoOutStream &s) { return s << '\n'; }
ArduinoOutStream &hex(ArduinoOutStream &s) { s.base_ = 16; return s; }
ArduinoOutStream &dec(ArduinoOutStream &s) { s.base_ = 10; return s; }
ArduinoOutStream &oct(ArduinoOutStream &s) { s.base_ = 8; return s; }
ArduinoOutStream &showbase(ArduinoOutStream &s) { s.mostrar_base_ = true; return s; }
ArduinoOutStream &noshowbase(ArduinoOutStream &s) { s.mostrar_base_ = false; return s; }
ArduinoOutStream &uppercase(ArduinoOutStream &s) { s.mayusculas_ = true; return s; }
ArduinoOutStream &nouppercase(ArduinoOutStream &s) { s.mayusculas_ = false; return s; }
ArduinoOutStream &left(ArduinoOutStream &s) { s.izquierda_ = true; return s; }
ArduinoOutStream &right(ArduinoOutStream &s) { s.izquierda_ = false; return s; }
ArduinoOutStream &flush(ArduinoOutStream &s) { return s; }

void ArduinoOutStream::reiniciar()
{
    base_ = 10;
    mostrar_base_ = mayusculas_ = izquierda_ = false;
    ancho_ = 0;
    relleno_ = ' ';
    precision_ = 2;
}

void sd_reinicio_flujos()
{
    cout.reiniciar();
    coutTOV.reiniciar();
}
