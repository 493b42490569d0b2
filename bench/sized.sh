#!/usr/bin/env bash
# Measures the recogniser on a model of the real model's size (random weights, same graphs and cost):
# installs what is missing, builds the benchmarks and the model (about 230 MB, into
# build/bench/models/sized), then prints the model's cost and the release-to-text figures.
#
#   bench/sized.sh [--quick] [--threads N]
#
# $RUVEX_VOICE_MODEL_DIR measures another model folder instead (the real model, where it exists).
# Takes about 25 minutes (--quick: about 12); run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target sized_model bench_model_cost bench_release_latency
model=${RUVEX_VOICE_MODEL_DIR:-build/bench/models/sized}

echo "== $(nproc) cores:$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2); $(uptime)"
runs=5
for arg in "$@"; do [ "$arg" = --quick ] && runs=3; done
echo "== model cost"
build/bench/bench/bench_model_cost "$model" --runs "$runs"
echo
echo "== release to text"
build/bench/bench/bench_release_latency "$model" "$@"
echo "== $(uptime)"
