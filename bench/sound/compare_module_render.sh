#!/usr/bin/env bash
# Sets our module rendering beside openmpt123's on the same modules, at the
# same rate (22,050 Hz), channels (mono) and nearest-sample filter:
#   bench/sound/compare_module_render.sh [module.mod ...]
# (default: the game modules of tecnoballz-data). openmpt123's start-up is
# cancelled: its time on a module minus its time on a module one row long.
# Prints, per module, the song seconds each renders per CPU second
# and their ratio (ours / openmpt123's; 1 or more: ours is at least as fast).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
"$root/scripts/install-deps" libbenchmark-dev openmpt123
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOB_BENCH=ON -DQOB_TESTS=OFF >/dev/null
cmake --build "$build" --target qob_sound_module_render_bench -j2 >/dev/null
modules=("$@")
[ ${#modules[@]} -gt 0 ] || modules=(/usr/share/games/tecnoballz/musics/*.mod)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# One row: sample 1 at period 428, then a break past the last order.
sh "$root/tests/programs/sound/make_module.sh" "$work/one-row.mod"
printf '\035' | dd of="$work/one-row.mod" bs=1 seek=1086 conv=notrunc status=none
options=(--render --samplerate 22050 --channels 1 --filter 1 --ramping 0 --gain 0 --force)
openmpt123 --help 2>&1 | grep -q -- '--ctl' && options+=(--ctl render.resampler.emulate_amiga=0)
# Best of three CPU seconds (user + system) of openmpt123 rendering a
# module: the benchmark's rate is per CPU second too, and wall time on a
# shared machine says more about its load than about either player.
render_seconds() {
  local best="" used
  for _ in 1 2 3; do
    cp "$1" "$work/m.mod"
    used=$( { TIMEFORMAT='%U %S'; time openmpt123 "${options[@]}" "$work/m.mod" >/dev/null 2>&1; } 2>&1 | tail -1)
    best=$(echo "$used ${best:-1e9}" | awk '{ t = $1 + $2; print (t < $3 ? t : $3) }')
  done
  echo "$best"
}
startup=$(render_seconds "$work/one-row.mod")
printf '%-40s %12s %12s %8s\n' module "ours x" "openmpt x" ratio
for module in "${modules[@]}"; do
  name=$(basename "$module")
  theirs_seconds=$(render_seconds "$module")
  song=$(soxi -D "$work/m.mod.wav" 2>/dev/null || echo 0)
  ours_rate=$(QOB_BENCH_MODULES="$module" "$build/bench/qob_sound_module_render_bench" --benchmark_min_time=0.5 \
           --benchmark_counters_tabular=true 2>/dev/null | awk '/BM_ModuleRender/ { print $NF }' | tail -1)
  theirs=$(echo "$song $theirs_seconds $startup" | awk '{ t = $2 - $3; if (t <= 0) t = 1e-6; printf "%.1f", $1 / t }')
  # The counter reads like "1.23k/s".
  echo "$name ${ours_rate:-0} $theirs" | awk '{ r = $2; mult = ($2 ~ /k\/s$/ ? 1000 : 1); sub(/[^0-9.].*$/, "", r); printf "%-40s %12.1f %12.1f %8.2f\n", $1, r * mult, $3, (r * mult) / $3 }'
done
