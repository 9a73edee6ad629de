#!/usr/bin/env bash
# crash_during_jet_add.sh VELMORA2_ADD VELMORA2_INIT PYTHON MAKE_JET4 JET4_INVARIANTS
# velmora2-add killed (SIGKILL, injected by strace) at each of its writes,
# truncations, renames, removals and flushes of an add into an Access (Jet 4)
# catalogue, one point per run: after velmora2-init rolls back what the killed
# add left, the catalogue holds the old rows or the old rows plus the new one,
# its pages keep every invariant, and the next add succeeds. Skipped (77)
# where strace cannot trace.
set -euo pipefail
add=$1 init=$2 python=$3 make_jet4=$4 invariants=$5

tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-jet-crash-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

strace -f -qq -o /dev/null true 2>/dev/null || { echo "SKIP: strace cannot trace here"; exit 77; }
printf 'MZ setup' >"$tmp/setup.exe"
printf 'BM picture' >"$tmp/picture.bmp"

# add FOLDER PROGRAM [STRACE ARGUMENTS...]: one entry with a description that
# needs a long-value page (UCS-2, past an inline memo).
run_add() {
    local folder=$1 program=$2
    shift 2
    "$@" "$add" --quiet --collection "$folder" --category CDDVD --program "$program" \
        --description "čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ čćžšđ" \
        --setup "$tmp/setup.exe" --picture "$tmp/picture.bmp"
}
rows() { mdb-count "$1/Velmora2.db" CD; }
whole() {
    "$python" "$invariants" "$1/Velmora2.db" >"$tmp/faults" || fail "$2: $(head -3 "$tmp/faults")"
}

points=0
# A full root leaf (a split and a new root), and a full last data page.
for fixture in "--rows 389" "--rows 600 --last-page-free 12"; do
    # shellcheck disable=SC2086
    "$python" "$make_jet4" "$tmp/fixture.db" --schema indexed $fixture >/dev/null
    before=$(mdb-count "$tmp/fixture.db" CD)
    for call in pwrite64 write pwritev ftruncate fsync fdatasync renameat unlinkat; do
        for ((n = 1; ; n++)); do
            folder=$tmp/collection
            rm -rf "$folder"
            mkdir -p "$folder/Programi"
            cp "$tmp/fixture.db" "$folder/Velmora2.db"
            where="$fixture, $call #$n"
            status=0
            # LeakSanitizer cannot work under a tracer; in a sanitizer build
            # it would fail every traced run.
            run_add "$folder" Alat env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
                strace -f -qq -o /dev/null -P "$folder/Velmora2.db" \
                -P "$folder/Velmora2.db-vjournal" -P "$folder" \
                -e trace="$call" -e inject="$call:signal=KILL:when=$n" 2>"$tmp/traced.err" ||
                status=$?
            [[ $status == 0 ]] && break # the add ran past its last such call
            # Only the injected kill may end it; anything else would loop for ever.
            [[ $status == 137 ]] || fail "$where: the traced add ended with $status: $(tail -n 2 "$tmp/traced.err")"
            ((points += 1))
            "$init" "$folder" >"$tmp/init.out" 2>&1 || fail "$where: velmora2-init: $(cat "$tmp/init.out")"
            [[ ! -e $folder/Velmora2.db-vjournal ]] || fail "$where: the journal is still there"
            whole "$folder" "$where, rolled back"
            after=$(rows "$folder")
            [[ $after == "$before" || $after == $((before + 1)) ]] ||
                fail "$where: $after rows after the roll-back, $before before"
            run_add "$folder" Drugi || fail "$where: the next add failed"
            whole "$folder" "$where, next add"
            [[ $(rows "$folder") == $((after + 1)) ]] || fail "$where: the next add stored no row"
        done
    done
done
((points > 0)) || fail "no write or flush of the add was reached"
echo "PASS: killed at $points writes and flushes; each time whole after the roll-back, next add clean"
