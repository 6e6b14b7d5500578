#!/usr/bin/env bash
# Runs every built libFuzzer harness for a bounded time. Each harness keeps
# its corpus in the build folder, seeded from <module>/fuzz/semillas_<name>/.
# A crash stops the run with its reproducer saved beside the corpus.
set -euo pipefail
build=${1:-build-fuzz}
segundos=${2:-60}
cd "$(dirname "$0")/.."
# Seeds from the simulator's own output and from real receivers' captures.
semillas="$build/semillas"
mkdir -p "$semillas/sensor_fuzz" "$semillas/gps_fuzz" "$semillas/tarjeta_fuzz"
if [ -x build/olas-sim ] && [ ! -e "$semillas/sensor_fuzz/.hecho" ]; then
  build/olas-sim --no-progress --duration 20s --no-card --gps none --sensor-record "$semillas/sensor.bin" \
    --out "$semillas/sim" >/dev/null
  /usr/bin/python3 - "$semillas" <<'PY'
import glob, os, sys
d = sys.argv[1]
flujo = open(os.path.join(d, "sensor.bin"), "rb").read()
for i in range(0, min(len(flujo), 177 * 40), 177):
    open(os.path.join(d, "sensor_fuzz", "s%04d" % i), "wb").write(bytes([i & 15]) + flujo[i:i + 354])
for ruta in glob.glob("../shared/testdata/nmea/*.log"):
    texto = b"".join(l for l in open(ruta, "rb").read().splitlines(True) if not l.startswith(b"#"))
    for j in range(0, min(len(texto), 256 * 12), 256):
        open(os.path.join(d, "gps_fuzz", "%s_%05d" % (os.path.basename(ruta), j)), "wb").write(b"\x00" + texto[j:j + 256])
for bloque in range(0, 64, 4):
    open(os.path.join(d, "tarjeta_fuzz", "b%03d" % bloque), "wb").write(bytes([0, bloque]) + bytes(range(256)) * 2)
PY
  touch "$semillas/sensor_fuzz/.hecho"
fi
fallos=0
for arnes in */fuzz/*_fuzz.cpp; do
  [ -e "$arnes" ] || continue
  nombre=$(basename "$arnes" .cpp)
  carpeta=$(dirname "$arnes")
  corpus="$build/corpus/$nombre"
  mkdir -p "$corpus" "$build/fallos/$nombre"
  if [ -d "$carpeta/semillas_$nombre" ]; then cp -n "$carpeta/semillas_$nombre"/* "$corpus"/ 2>/dev/null || true; fi
  if [ -d "$semillas/$nombre" ]; then cp -n "$semillas/$nombre"/* "$corpus"/ 2>/dev/null || true; fi
  echo "== $nombre: $segundos s"
  if ! "./$build/$nombre" -max_total_time="$segundos" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$build/fallos/$nombre/" -print_final_stats=1 "$corpus" 2>"$build/$nombre.log"; then
    echo "   FAILED: see $build/$nombre.log and $build/fallos/$nombre/"
    tail -n 30 "$build/$nombre.log"
    fallos=$((fallos + 1))
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$nombre.log" | sed 's/^/   /'
  fi
done
echo "fuzzing: $fallos harness(es) failed"
[ "$fallos" -eq 0 ]
