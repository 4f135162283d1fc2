#!/usr/bin/env bash
# What a host developer gets from an installed copy, checked from a finished build:
#   1. `cmake --install` to a temporary prefix: the expected layout, and nothing else in it;
#   2. every installed header compiles on its own against the CMake package;
#   3. examples/host, configured with only -DCMAKE_PREFIX_PATH=<prefix>, builds and runs to
#      INSTALLED_AND_STARTED on the sample installation in a throw-away home, offline;
#   4. the same from the three .deb files (`package` target) unpacked with dpkg-deb -x.
# Whatever happens, the service hosts it started are stopped and its temporary tree removed.
#
#   scripts/check-install.sh [BUILD_DIR]      (default build/default)
set -euo pipefail

source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build/default}" && pwd)"
# shellcheck source=/dev/null
. "$build/install-layout.sh"
work="$(mktemp -d "${TMPDIR:-/tmp}/tripwire-check-install.XXXXXX")"
jobs=${JOBS:-2}

fail() {
    printf 'check-install: %s\n' "$*" >&2
    exit 1
}
section() { printf '\n== %s\n' "$*"; }

# The processes whose program lies in our temporary tree (the installed service hosts).
our_processes() {
    local entry exe
    for entry in /proc/[0-9]*; do
        exe=$(readlink "$entry/exe" 2>/dev/null) || continue
        case "$exe" in "$work"/*) printf '%s\n' "${entry#/proc/}" ;; esac
    done
}

stop_processes() {
    local pids
    pids=$(our_processes)
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 1 50); do
        [ -n "$(our_processes)" ] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $(our_processes) 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    stop_processes
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The tree below a prefix that an install must produce, and what must never be there.
check_layout() {
    local prefix=$1 libdir=$2 path root="$2/tripwire"
    for path in bin/tripwire "$root/bin/tripwire" \
        "$root/$layout_declarative_services" \
        "$root/$layout_module" \
        "$root/$layout_httpclient_dir/qbhttpclient.so" \
        "$root/$layout_httpproxy_dir/qbhttpproxybundle.so" \
        "$root/$layout_sample_dir/QuillbeckServiceHost" \
        "$root/$layout_sample_dir/QuillbeckServiceHostInstaller" \
        "$root/$layout_sample_dir/tripwire-sample-server" \
        "$libdir/cmake/tripwire/tripwireConfig.cmake" \
        "$libdir/cmake/tripwire/tripwireConfigVersion.cmake" \
        "$libdir/pkgconfig/tripwire.pc" \
        include/halvexconnector/tripwire/ITripwire.h include/tripwire/InstallLayout.h \
        share/man/man1/tripwire.1.gz share/bash-completion/completions/tripwire \
        share/tripwire/tripwire.service; do
        [ -e "$prefix/$path" ] || fail "$path is missing below $prefix"
    done
    ls "$prefix/$root/$layout_sources_dir"/kci_*.zip >/dev/null 2>&1 ||
        fail "no kci archive below $prefix/$root/$layout_sources_dir"
    [ "$(readlink "$prefix/bin/tripwire")" = "../$libdir/tripwire/bin/tripwire" ] ||
        fail "bin/tripwire is not a relative link to the host"
    # Nothing but the package folders directly in <libdir>; no examples anywhere.
    [ -z "$(find "$prefix/$libdir" -maxdepth 1 -type f)" ] ||
        fail "files directly in $prefix/$libdir: $(find "$prefix/$libdir" -maxdepth 1 -type f)"
    [ -z "$(find "$prefix" -name '*example*')" ] ||
        fail "examples were installed: $(find "$prefix" -name '*example*')"
    [ "$("$prefix/bin/tripwire" --version)" != "" ] || fail "bin/tripwire --version printed nothing"
}

# Every installed header, included alone into its own translation unit.
check_headers() {
    local prefix=$1 project="$work/headers" header name
    mkdir -p "$project/src"
    while IFS= read -r header; do
        name=${header#"$prefix/include/"}
        name=${name#tripwire/}
        printf '#include <%s>\n' "$name" >"$project/src/$(tr '/.' '__' <<<"$name").cpp"
    done < <(find "$prefix/include" -type f \( -name '*.h' -o -name '*.hpp' \) | sort)
    cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(tripwire_header_check LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(tripwire CONFIG REQUIRED)
file(GLOB sources "${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp")
add_library(headers OBJECT ${sources})
target_compile_options(headers PRIVATE -Wall -Wextra -Werror)
# The framework's bundle headers need the bundle's name, as in every bundle's own sources.
target_compile_definitions(headers PRIVATE US_BUNDLE_NAME=header_check)
target_link_libraries(headers PRIVATE tripwire::interface tripwire::framework tripwire::hostsupport)
EOF
    cmake -S "$project" -B "$project/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$project/build" -j "$jobs" >"$project/build.log" 2>&1 || {
        cat "$project/build.log" >&2
        fail "an installed header does not compile on its own"
    }
    printf '%s headers compile on their own\n' "$(ls "$project/src" | wc -l)"
}

# Builds examples/host against the prefix and runs it in a throw-away home.
check_example() {
    local prefix=$1 label=$2 home="$work/home-$2" out status=0 lock pid
    { cmake -S "$source_dir/examples/host" -B "$work/example-$label" -G Ninja \
        -DCMAKE_PREFIX_PATH="$prefix" && cmake --build "$work/example-$label" -j "$jobs"; } \
        >"$work/example-$label.log" 2>&1 || {
        cat "$work/example-$label.log" >&2
        fail "examples/host does not build against $prefix"
    }
    mkdir -p "$home"
    out=$(env -u QB_INSTALL_ROOT -u QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES \
        -u QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION -u QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT \
        -u https_proxy -u HTTPS_PROXY -u http_proxy -u HTTP_PROXY -u all_proxy -u ALL_PROXY \
        HOME="$home" XDG_DATA_HOME="$home/data" QB_TELEMETRY_DIR="$home/telemetry" \
        QB_URL_QUILLBECK_DOT_COM="http://127.0.0.1:9" \
        "$work/example-$label/example-host" 2>&1) || status=$?
    printf '%s\n' "$out" | sed 's/^/  /'
    [ "$status" -eq 0 ] || fail "example-host ($label) ended with status $status"
    grep -qx 'areHALVEXServicesRunning: false' <<<"$out" || fail "no running check printed"
    grep -q '^checkHALVEXServicesInstallation(.*): NOT_INSTALLED$' <<<"$out" ||
        fail "no installation check printed"
    grep -qx 'installAndStartHALVEXServices: INSTALLED_AND_STARTED' <<<"$out" ||
        fail "the install did not end with INSTALLED_AND_STARTED"
    # The service host it started registered under the lock root; stop it by its lock's pid.
    for lock in "$home/data/Quillbeck/RodudedOzovizaz/locks"/*.lock; do
        [ -f "$lock" ] || fail "no agent lock file after the install"
        pid=$(head -n 1 "$lock")
        case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in
            "$home"/*) kill -TERM "$pid" ;;
            *) fail "the lock $lock names pid $pid, not a service host of this check" ;;
        esac
    done
    for _ in $(seq 1 50); do
        [ -n "$(our_processes)" ] || break
        sleep 0.1
    done
    [ -z "$(our_processes)" ] || fail "processes left running: $(our_processes)"
}

cd "$source_dir"

section "cmake --install to a temporary prefix"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(cd "$prefix" && dirname "$(find . -path '*/cmake/tripwire' -type d | head -n 1)")
libdir=${libdir#./}
libdir=${libdir%/cmake}
check_layout "$prefix" "$libdir"
echo "layout as expected below $prefix ($libdir/tripwire is the tripwire root)"
check_headers "$prefix"
check_example "$prefix" install

section "the .deb files, unpacked with dpkg-deb -x"
rm -rf "$build/packages"
# cpack itself, not the `package` target: the build is finished, and the target would first
# bring every test program up to date.
(cd "$build" && cpack -G DEB) >"$work/package.log" 2>&1 || {
    cat "$work/package.log" >&2
    fail "making the packages failed"
}
debroot="$work/debroot"
for deb in "$build"/packages/*.deb; do
    dpkg-deb -x "$deb" "$debroot"
    printf '%s\n' "$(basename "$deb")"
done
[ "$(ls "$build"/packages/*.deb | wc -l)" -eq 3 ] || fail "expected three .deb files"
check_layout "$debroot/usr" "$libdir"
check_example "$debroot/usr" deb

printf '\ncheck-install: all checks passed\n'
