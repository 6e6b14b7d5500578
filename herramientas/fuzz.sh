#!/usr/bin/env bash
# Runs every built libFuzzer harness for a bounded time. Each harness keeps
# its corpus in the build folder, seeded from <module>/fuzz/semillas_<name>/.
# A crash stops the run with its reproducer saved beside the corpus.
set -euo pipefail
build=${1:-build-fuzz}
segundos=${2:-60}
cd "$(dirname "$0")/.."
fallos=0
for arnes in */fuzz/*_fuzz.cpp; do
  [ -e "$arnes" ] || continue
  nombre=$(basename "$arnes" .cpp)
  carpeta=$(dirname "$arnes")
  corpus="$build/corpus/$nombre"
  mkdir -p "$corpus" "$build/fallos/$nombre"
  if [ -d "$carpeta/semillas_$nombre" ]; then cp -n "$carpeta/semillas_$nombre"/* "$corpus"/ 2>/dev/null || true; fi
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
