// The simulated board the fuzz harnesses run the firmware on: one for the
// whole run, its four ports open at the buoy's rates, nothing attached.
#ifndef PLATAFORMA_FUZZ_PLACA_FUZZ_H
#define PLATAFORMA_FUZZ_PLACA_FUZZ_H

#include "plataforma/host/placa_host.h"

inline placa::Placa &placa_para_fuzz()
{
    static placa::Placa *p = [] {
        auto *nueva = new placa::Placa();
        placa::instalar(nueva);
        for (int i = 0; i < placa::NUM_PUERTOS; i++) nueva->uart_begin(i, i == 3 ? 9600 : i == 0 ? 38400 : 115200);
        return nueva;
    }();
    return *p;
}

#endif
