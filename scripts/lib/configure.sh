# Configures a build folder. Sourced by scripts/run and scripts/test.

# configure_build DIR [CMAKE ARGS...]: configures DIR with Ninja, or, when DIR
# was configured before (by hand, as the README shows, or with another
# generator), with the generator it already has: CMake refuses to change it.
configure_build() {
    local dir=$1
    shift
    local generator=(-G Ninja)
    [ -f "$dir/CMakeCache.txt" ] && generator=()
    cmake -S . -B "$dir" "${generator[@]}" "$@"
}
