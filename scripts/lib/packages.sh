# Installs the Debian packages that building, running and testing need, when
# any is missing. Sourced by scripts/run, scripts/test and scripts/screenshot.

# What building the four programs and opening the window need: scripts/run
# installs these only.
velmora_run_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libsqlite3-dev libxcb1-dev mdbtools-dev libcli11-dev
    libglib2.0-dev # velmora2-list folds letters for its pattern
    patchelf   # the install rules of the portable folder
    fonts-wine # the window's Tahoma
    x11-utils  # xdpyinfo: scripts/run asks whether a display answers
    libxcursor1 # the installed window's cursor themes, which its xcb plugin loads by name
)

# What the tests, the clang, sanitizer and fuzz builds and the benchmarks need
# besides: scripts/test installs both lists.
velmora_test_packages=(
    sqlite3 libgtest-dev python3
    clang libclang-rt-14-dev clang-format llvm-14
    xvfb xdotool x11-xserver-utils
    dbus-daemon at-spi2-core python3-pyatspi
    xfsprogs btrfs-progs exfat-fuse exfatprogs ntfs-3g
    libmdb3 mdbtools util-linux
    strace
)

# What the benchmarks alone need besides both lists above (bench/run installs
# all three; scripts/test does not install this one).
velmora_bench_packages=(
    rsync # the copy benchmark's second anchor: rsync --whole-file + sync
)

# What scripts/screenshot needs besides a build.
velmora_screenshot_packages=(xvfb xdotool x11-utils imagemagick openbox)

# ensure_packages PURPOSE PACKAGE...: installs the packages that are missing,
# as root or through sudo. When that cannot be done (no sudo, or sudo refuses),
# names what is missing, what for, and the command that installs it, and ends
# the script with status 1.
ensure_packages() {
    local purpose=$1
    shift
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || _packages_missing "$purpose" "${missing[@]}"
        sudo=(sudo)
    fi
    echo "Installing what is needed for $purpose: ${missing[*]}"
    # sudo resets the environment; env carries the setting through it.
    if ! "${sudo[@]}" apt-get update -qq ||
        ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
            --no-install-recommends "${missing[@]}"; then
        _packages_missing "$purpose" "${missing[@]}"
    fi
}

# _packages_missing PURPOSE PACKAGE...
_packages_missing() {
    local purpose=$1
    shift
    {
        echo "Debian packages needed for $purpose are not installed: $*"
        echo "Install them as root (or through sudo) with:"
        echo "  apt-get install --no-install-recommends $*"
    } >&2
    exit 1
}
