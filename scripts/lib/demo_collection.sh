# Makes the demo collection that scripts/run puts beside the programs. Sourced
# by scripts/run.

# _demo_picture FILE B G R: a 2 x 2 bitmap of one colour, 70 bytes.
_demo_picture() {
    local pixel="\\x$2\\x$3\\x$4"
    {
        printf 'BM\x46\0\0\0\0\0\0\0\x36\0\0\0'                    # file header
        printf '\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0' # 2 x 2, 24 bits
        printf '\x10\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0'
        printf "$pixel$pixel\\0\\0$pixel$pixel\\0\\0"             # rows padded to 4 bytes
    } >"$1"
}

# make_demo_collection FOLDER: a catalogue in FOLDER with a few entries (a
# row, a folder and its two small files each), added as any list is, by the
# velmora2-add beside it, so that the first window shows a collection with
# something in it.
make_demo_collection() {
    local folder=$1
    "$folder/velmora2-init" "$folder"
    [ -x "$folder/velmora2-add" ] || return 0
    local sources
    sources=$(mktemp -d)
    local name
    for name in preglednik svirac sah; do
        printf 'Setup of the demo entry %s\n' "$name" >"$sources/$name-setup.exe"
    done
    _demo_picture "$sources/preglednik.bmp" c0 70 20
    _demo_picture "$sources/svirac.bmp" 20 a0 30
    _demo_picture "$sources/sah.bmp" 30 30 30
    cat >"$sources/demo.csv" <<'LIST'
Kategorija,Program,Opis,Source,Slika
Internet,Preglednik,Pregledavanje weba,preglednik-setup.exe,preglednik.bmp
Multimedija,Svirač,Glazba i video,svirac-setup.exe,svirac.bmp
Igre,Šah,Šah protiv računala,sah-setup.exe,sah.bmp
LIST
    local status=0 report
    report=$("$folder/velmora2-add" --collection "$folder" --csv "$sources/demo.csv" 2>&1) ||
        status=$?
    rm -rf "$sources"
    if [ "$status" -ne 0 ]; then
        echo "$report" >&2
        return "$status"
    fi
    echo "Made a demo collection of 3 programs in $folder"
}
