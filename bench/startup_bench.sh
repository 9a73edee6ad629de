#!/usr/bin/env bash
# startup_bench.sh [BUILD_DIR] [RUNS]: time from start to the window mapped,
# Velmora2ADD against a Qt Widgets window with a label, a line edit and a
# button (it loads fonts, as any form does) and against a bare window, the
# three in turn, under a private Xvfb; prints the medians, the ratios to both
# and the program's resident memory once shown. Targets: at most 1.10 times
# the text window, RSS under 60 MiB. The processor time each had used by the
# map is printed beside: on a busy machine it tells work from waiting.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-10}
source "$root/tests/e2e/xvfb_session.sh"

probe=$build/bench/startup_probe
text=$build/bench/text_window
minimal=$build/bench/minimal_window
for f in "$probe" "$text" "$minimal" "$build/bin/Velmora2ADD" "$build/bin/velmora2-init"; do
    [[ -x $f ]] || { echo "missing $f: build with VELMORA_GUI=ON first" >&2; exit 1; }
done

tmp=$(mktemp -d)
cleanup() {
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

# The program runs from a collection folder of its own, as installed.
collection=$tmp/collection
mkdir -p "$collection"
cp "$build/bin/Velmora2ADD" "$build/bin/velmora2-init" "$collection/"
"$collection/velmora2-init" "$collection" >/dev/null

start_xvfb "$tmp"

names=(app text min)
declare -A title=([app]="Velmora 2.0 ADD New Program" [text]="Text window"
    [min]="Minimal Qt Widgets window")
declare -A program=([app]="$collection/Velmora2ADD" [text]="$text" [min]="$minimal")

median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else printf "%.2f\n", (v[NR/2]+v[NR/2+1])/2}'; }

# One unmeasured start of each warms the page cache and font cache alike.
for name in "${names[@]}"; do
    "$probe" "${title[$name]}" "${program[$name]}" >/dev/null
    : >"$tmp/$name.ms"
    : >"$tmp/$name.rss"
    : >"$tmp/$name.cpu"
done
for ((i = 1; i <= runs; i++)); do
    for name in "${names[@]}"; do
        read -r ms rss cpu < <("$probe" "${title[$name]}" "${program[$name]}")
        echo "$ms" >>"$tmp/$name.ms"
        echo "$rss" >>"$tmp/$name.rss"
        echo "$cpu" >>"$tmp/$name.cpu"
    done
done

declare -A ms mib cpu
for name in "${names[@]}"; do
    ms[$name]=$(median <"$tmp/$name.ms")
    cpu[$name]=$(median <"$tmp/$name.cpu")
    mib[$name]=$(median <"$tmp/$name.rss" | awk '{printf "%.1f", $1 / 1024}')
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
text_ratio=$(ratio "${ms[app]}" "${ms[text]}")
min_ratio=$(ratio "${ms[app]}" "${ms[min]}")

echo "start-up to window mapped, median of $runs (in turn):"
echo "  Velmora2ADD     ${ms[app]} ms   VmRSS ${mib[app]} MiB   processor ${cpu[app]} ms"
echo "  text window     ${ms[text]} ms   VmRSS ${mib[text]} MiB   processor ${cpu[text]} ms"
echo "  bare window     ${ms[min]} ms   VmRSS ${mib[min]} MiB   processor ${cpu[min]} ms"
echo "  ratio           ${text_ratio} to the text window (target <= 1.10), ${min_ratio} to the bare one"
echo "  processor ratio $(ratio "${cpu[app]}" "${cpu[text]}") to the text window"
awk -v r="$text_ratio" -v m="${mib[app]}" 'BEGIN {
    print "  targets        " ((r <= 1.10 && m < 60) ? "met" : "NOT met")
}'
