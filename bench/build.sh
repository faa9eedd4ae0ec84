# Sourced by the benchmark scripts (from the repository root): installs what benchmarks need
# and builds the given targets in a build folder, configuring it first when it is new.
# Usage: bench_build BUILD_DIR TARGET...
bench_build() {
    local build=$1
    shift
    bash scripts/install-deps.sh bench
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
}
