#!/usr/bin/env bash
# startup_bench.sh [BUILD_DIR] [RUNS]: time from start to the window mapped,
# Velmora2ADD against a minimal Qt Widgets window, alternating, under a private
# Xvfb; prints both medians, their ratio and the program's resident memory
# once shown. Targets: ratio at most 1.3, RSS under 60 MiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-10}
source "$root/tests/e2e/xvfb_session.sh"

probe=$build/bench/startup_probe
minimal=$build/bench/minimal_window
for f in "$probe" "$minimal" "$build/bin/Velmora2ADD" "$build/bin/velmora2-init"; do
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
"$collection/velmora2-init" "$collection"

start_xvfb "$tmp"

app_title="Velmora 2.0 ADD New Program"
minimal_title="Minimal Qt Widgets window"

median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else printf "%.2f\n", (v[NR/2]+v[NR/2+1])/2}'; }

# One unmeasured start of each warms the page cache and font cache alike.
"$probe" "$app_title" "$collection/Velmora2ADD" >/dev/null
"$probe" "$minimal_title" "$minimal" >/dev/null

: >"$tmp/app.ms"; : >"$tmp/app.rss"; : >"$tmp/min.ms"; : >"$tmp/min.rss"
for ((i = 1; i <= runs; i++)); do
    read -r ms rss < <("$probe" "$app_title" "$collection/Velmora2ADD")
    echo "$ms" >>"$tmp/app.ms"; echo "$rss" >>"$tmp/app.rss"
    read -r ms rss < <("$probe" "$minimal_title" "$minimal")
    echo "$ms" >>"$tmp/min.ms"; echo "$rss" >>"$tmp/min.rss"
done

app_ms=$(median <"$tmp/app.ms")
min_ms=$(median <"$tmp/min.ms")
app_rss=$(median <"$tmp/app.rss")
min_rss=$(median <"$tmp/min.rss")
ratio=$(awk -v a="$app_ms" -v m="$min_ms" 'BEGIN {printf "%.2f", a / m}')
app_mib=$(awk -v k="$app_rss" 'BEGIN {printf "%.1f", k / 1024}')
min_mib=$(awk -v k="$min_rss" 'BEGIN {printf "%.1f", k / 1024}')

echo "start-up to window mapped, median of $runs (alternating):"
echo "  Velmora2ADD     ${app_ms} ms   VmRSS ${app_mib} MiB"
echo "  minimal window  ${min_ms} ms   VmRSS ${min_mib} MiB"
echo "  ratio           ${ratio} (target <= 1.30)"
awk -v r="$ratio" -v m="$app_mib" 'BEGIN {
    print "  targets        " ((r <= 1.3 && m < 60) ? "met" : "NOT met")
}'
