#!/usr/bin/env bash
# Installs what is missing, builds every flavour and runs every test:
# native unit tests, the same under AddressSanitizer + UndefinedBehaviorSanitizer,
# the Windows build's unit tests under Wine, and the end-to-end tests of both programs.
set -uo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
jobs=2
failed=()

step() {  # step NAME COMMAND...: runs a step, remembers a failure and goes on
    local name=$1
    shift
    echo "==== $name"
    if ! "$@"; then
        echo "==== $name: FAILED"
        failed+=("$name")
    fi
}

ctest_in() {  # ctest_in BUILD_DIR: CTest with its summary
    (cd "$1" && ctest --output-on-failure -j"$jobs" --timeout 900)
}

configure_and_build() {  # configure_and_build BUILD_DIR CMAKE_ARGS...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j"$jobs"
}

wine_prefix() {
    [ -d "${WINEPREFIX:-$HOME/.wine}" ] && return 0
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
}

bash scripts/setup.sh || exit 1

step "native build" configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "native tests" ctest_in build
step "sanitizer build" configure_and_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDAZIRUDO_SANITIZE=ON -DDAZIRUDO_BENCH=OFF
step "sanitizer tests" ctest_in build-asan
step "wine prefix" wine_prefix
step "windows build" configure_and_build build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release
step "windows tests (wine)" ctest_in build-win
if [ -f tests/e2e/run.sh ]; then
    step "end-to-end tests (native)" bash tests/e2e/run.sh native
    step "end-to-end tests (windows, wine)" bash tests/e2e/run.sh windows
fi

if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED steps: ${failed[*]}"
    exit 1
fi
echo "All test steps passed."
