# Installs the Debian packages that building, running and testing need, when
# any is missing. Sourced by scripts/run and scripts/test.

velmora_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libsqlite3-dev sqlite3 libgtest-dev
    libxcb1-dev
    clang libclang-rt-14-dev clang-format llvm-14
    xvfb xdotool x11-utils x11-xserver-utils python3
    dbus-daemon at-spi2-core python3-pyatspi
    fonts-wine
    xfsprogs btrfs-progs exfat-fuse exfatprogs ntfs-3g
    mdbtools-dev libmdb3 mdbtools util-linux libglib2.0-dev
    libcli11-dev
    patchelf strace
)

# What scripts/screenshot needs besides a build.
velmora_screenshot_packages=(xvfb xdotool x11-utils imagemagick openbox)

ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    # sudo resets the environment; env carries the setting through it.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
