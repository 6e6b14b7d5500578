// What a shell command (fsck.fat, mdir, mtype) prints, with its exit status,
// for the tests that check card images with the real tools.
#ifndef PLATAFORMA_TESTS_SALIDA_ORDEN_H
#define PLATAFORMA_TESTS_SALIDA_ORDEN_H

#include <sys/wait.h>

#include <cstdio>
#include <string>

inline std::string salida_de(const std::string &orden, int *codigo = nullptr)
{
    std::string texto;
    FILE *p = popen((orden + " 2>&1").c_str(), "r");
    if (!p) return texto;
    char b[4096];
    size_t n;
    while ((n = fread(b, 1, sizeof b, p)) > 0) texto.append(b, n);
    int r = pclose(p);
    if (codigo) *codigo = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    return texto;
}

#endif
