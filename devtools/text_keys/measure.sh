#!/usr/bin/env bash
# measure.sh WORKDIR: measures the weights of the engine's "General" text sort
# order and writes access/jet_text_weights.cpp. Needs the jetcheck jar (the
# reference library, see ../shared/tools/jetcheck or JETCHECK_JAR), a JDK,
# and the build's dump_text_keys (cmake --build build --target dump_text_keys).
# Not part of the build or its tests.
set -euo pipefail
work=${1:?usage: measure.sh WORKDIR}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
jar=${JETCHECK_JAR:-$HOME/.cache/jetcheck/jetcheck.jar}
cp="$jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:$work"
dump=${DUMP_TEXT_KEYS:-$root/build/bin/dump_text_keys}
mkdir -p "$work"
javac -d "$work" -cp "$jar" "$here/MeasureTextKeys.java"
python3 "$here/measured_strings.py" --single >"$work/single.txt"
python3 "$here/measured_strings.py" --pairs >"$work/pairs.txt"
python3 "$here/measured_strings.py" --rules >"$work/rules.txt"
for list in single pairs rules; do
    java -cp "$cp" MeasureTextKeys "$work/$list.mdb" legacy "$work/$list.txt"
    "$dump" "$work/$list.mdb" >"$work/$list.tsv"
done
checks=("$work/single.tsv" "$work/rules.tsv")
# Keys Access itself wrote, where files of it are at hand (ACCESS_FILES: a
# directory of .mdb files), must come out of the derived weights too.
for file in "${ACCESS_FILES:-/nonexistent}"/*.mdb; do
    [ -f "$file" ] || continue
    "$dump" "$file" >"$work/access-$(basename "$file" .mdb).tsv"
    checks+=("$work/access-$(basename "$file" .mdb).tsv")
done
python3 "$here/generate_weights.py" "$work/single.tsv" "$work/pairs.tsv" \
    "$root/access/jet_text_weights.cpp" "${checks[@]}"
clang-format -i "$root/access/jet_text_weights.cpp"
