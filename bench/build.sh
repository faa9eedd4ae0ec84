# Sourced by the benchmark scripts (from the repository root): installs what benchmarks need
# and builds the given targets in a build folder. The benchmarks are left out of ordinary
# builds, so the folder is (re)configured with them turned on each time.
# Usage: bench_build BUILD_DIR TARGET...
bench_build() {
    local build=$1
    shift
    bash scripts/install-deps.sh bench
    cmake --preset default -B "$build" -DQUILLBY_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
}
