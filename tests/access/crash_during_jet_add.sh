#!/usr/bin/env bash
# crash_during_jet_add.sh VELMORA2_ADD VELMORA2_INIT PYTHON MAKE_JET4 JET4_INVARIANTS
# velmora2-add killed (SIGKILL, injected by strace) at each of its writes,
# truncations, renames, removals and flushes of an add into an Access (Jet 4)
# catalogue, one point per run: after velmora2-init rolls back what the killed
# add left, the catalogue holds the old rows or the old rows plus the new one,
# its pages keep every invariant, and the next add succeeds. Before that, the
# file as it lies (what a reader on Windows meets after a crash, before any
# program of ours rolls it back) is judged and counted by class: whole; open
# with the new row missing from an index or the count; unopenable. The
# reference reader judges too where VELMORA_JETCHECK names it (it cannot run
# in CI). A failed flush after the row is stored is reported as such, the row
# kept. Skipped (77) where strace cannot trace.
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

# classify FILE BEFORE: by the scan reader and our page checker.
classify() {
    local n
    if ! n=$(timeout 60 mdb-count "$1" CD 2>/dev/null) || [[ $n != "$2" && $n != $(($2 + 1)) ]]; then
        echo unopenable
    elif "$python" "$invariants" "$1" >/dev/null 2>&1; then
        echo whole
    else
        echo index
    fi
}
# judged FILE BEFORE: by the reference reader.
judged() {
    local out
    out=$(timeout 120 "$VELMORA_JETCHECK" "$1" 2>&1) || true
    if grep -Eq "^OK CD: ($2|$(($2 + 1))) rows" <<<"$out"; then
        echo whole
    elif grep -q '^BAD CD: ' <<<"$out"; then
        echo index
    else
        echo unopenable
    fi
}
declare -A lies=([whole]=0 [index]=0 [unopenable]=0) judge=([whole]=0 [index]=0 [unopenable]=0)

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
            class=$(classify "$folder/Velmora2.db" "$before")
            ((lies[$class] += 1))
            [[ $class != unopenable ]] || echo "as it lies, unopenable: $where" >&2
            if [[ -n ${VELMORA_JETCHECK:-} ]]; then
                class=$(judged "$folder/Velmora2.db" "$before")
                ((judge[$class] += 1))
                [[ $class != unopenable ]] || echo "reference reader, unopenable: $where" >&2
            fi
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
echo "as it lies, by the scan reader and page checker: ${lies[whole]} whole," \
    "${lies[index]} open with an index or the count missing the new row," \
    "${lies[unopenable]} unopenable"
if [[ -n ${VELMORA_JETCHECK:-} ]]; then
    echo "as it lies, by the reference reader: ${judge[whole]} whole," \
        "${judge[index]} open with an index or the count missing the new row," \
        "${judge[unopenable]} unopenable"
fi

# The folder's flush after the journal is removed fails: the row is stored,
# and the add says so, never that the catalogue failed.
folder=$tmp/collection
rm -rf "$folder"
mkdir -p "$folder/Programi"
cp "$tmp/fixture.db" "$folder/Velmora2.db"
status=0
run_add "$folder" Alat strace -f -qq -o /dev/null -P "$folder" -e trace=fsync \
    -e inject=fsync:error=EIO:when=2 >"$tmp/flush.out" 2>&1 || status=$?
grep -q "the row is stored in Velmora2.db, but then cannot flush the collection folder" \
    "$tmp/flush.out" || fail "a failed flush after the row: $(cat "$tmp/flush.out")"
! grep -q "Greška sa bazom" "$tmp/flush.out" || fail "a failed flush after the row is reported as a database failure"
[[ $(rows "$folder") == $((before + 1)) ]] || fail "a failed flush after the row: the row is not there"
[[ ! -e $folder/Velmora2.db-vjournal ]] || fail "a failed flush after the row left the journal"
echo "PASS: killed at $points writes and flushes; each time whole after the roll-back, next add clean"
