#!/usr/bin/env bash
# Compiles every firmware module for the ATSAMD21 (Cortex-M0+) with -Os, so a
# module that needs a host header or a host-only feature fails here.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${CXX_ARM:-arm-none-eabi-g++}
salida=$(mktemp -d)
trap 'rm -rf "$salida"' EXIT
modulos="principal sensor waves modulo_gps tov03 virtual_e2prom gestion_sd formateo_sd comunicaciones_pc declaraciones"
fallos=0
n=0
for m in $modulos; do
  for f in "$m"/*.cpp; do
    [ -e "$f" ] || continue
    n=$((n + 1))
    if ! "$CXX" -mcpu=cortex-m0plus -mthumb -Os -std=c++17 -fno-exceptions -fno-rtti \
         -Wall -Wextra -Werror -I. -c "$f" -o "$salida/$(basename "$f").o"; then
      echo "FAILED for the target: $f"
      fallos=$((fallos + 1))
    fi
  done
done
echo "target compile check: $n files, $fallos failed"
[ "$fallos" -eq 0 ]
