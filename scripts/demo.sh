#!/usr/bin/env bash
# The main job on the built-in sample installation, run from the staged install tree of a build
# folder in a throw-away home under build/demo/, so that nothing of the user's own data is
# touched. Two rounds of `tripwire install`: from the local archive in the install tree, then by
# download from a loopback server that this script starts; then status, stop and ensure. Whatever happens (a failed step,
# Ctrl-C), everything it started is stopped before it ends.
#
#   scripts/demo.sh [BUILD_DIR]      (default build/default; `make demo` passes build/<preset>)
set -euo pipefail

build=${1:-build/default}
stage="$(cd "$build/stage" && pwd)"
# shellcheck source=/dev/null
. "$build/install-layout.sh"
tripwire="$stage/bin/tripwire"
sample_server="$stage/$layout_sample_dir/tripwire-sample-server"
demo_home="$(cd "$(dirname "$build")" && pwd)/demo"
sources="$stage/$layout_sources_dir"

archive=$(ls "$sources"/kci_*.zip 2>/dev/null | head -n 1 || true)
if [ -z "$archive" ] || [ ! -x "$tripwire" ] || [ ! -x "$sample_server" ]; then
    echo "demo: $build is not a complete build (tripwire, the sample server or the kci archive" \
        "is missing); run 'make build' first" >&2
    exit 1
fi
version=$(basename "$archive" .zip)
version=${version#kci_}

# Only the demo's own settings count: nothing of the caller's environment may send the module
# to another installation, another server or a proxy.
unset QB_INSTALL_ROOT QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES QB_RODUDED_OZOVIZAZ_DOWNLOAD_LOCATION \
    QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT QB_LOG_MASK \
    https_proxy HTTPS_PROXY http_proxy HTTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
export HOME="$demo_home" XDG_DATA_HOME="$demo_home/data" QB_TELEMETRY_DIR="$demo_home/telemetry"
export QB_FEATURE_FLAGS="QSHInstallErrorTELX,QSHTripwireStartupTELX"
export QB_LOG_FILE="$demo_home/tripwire.log"
# No network: until round 2 starts its server, the maker's web domain is a loopback port where
# nothing listens, so a round 1 that fell back to a download would fail at once.
export QB_URL_QUILLBECK_DOT_COM="http://127.0.0.1:9"
storage="$XDG_DATA_HOME/Quillbeck/RodudedOzovizaz"
events="$QB_TELEMETRY_DIR/events.jsonl"

server_pid=

# The processes whose program lies in the demo home: the installed service host, and an
# installer still running from its working directory. Nothing else is ever signalled.
demo_processes() {
    local entry exe
    for entry in /proc/[0-9]*; do
        exe=$(readlink "$entry/exe" 2>/dev/null) || continue
        case "$exe" in
            "$demo_home"/*) printf '%s %s\n' "${entry#/proc/}" "$(basename "${exe% (deleted)}")" ;;
        esac
    done
}

# Sends SIGTERM to the given pids and waits up to five seconds for them to end (SIGKILL then).
stop_pids() {
    local pid
    [ "$#" -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null || true
    for _ in $(seq 1 50); do
        local left=0
        for pid in "$@"; do
            # A zombie holds no lock any more; its parent reaps it.
            if [ -e "/proc/$pid" ] && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]; then
                left=1
            fi
        done
        [ "$left" -eq 0 ] && return 0
        sleep 0.1
    done
    kill -KILL "$@" 2>/dev/null || true
}

stop_demo_processes() {
    local pid name pids=()
    while read -r pid name; do
        pids+=("$pid")
        printf 'stopping %s (pid %s)\n' "$name" "$pid"
    done < <(demo_processes)
    stop_pids "${pids[@]}"
}

stop_sample_server() {
    [ -n "$server_pid" ] || return 0
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    printf 'stopped the sample server (pid %s)\n' "$server_pid"
    server_pid=
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    stop_sample_server
    stop_demo_processes
    if [ "$status" -ne 0 ]; then
        printf '\nThe demo did not finish (status %d). Its home, with the diagnostic log, is %s\n' \
            "$status" "$demo_home"
    fi
    exit "$status"
}

fail() {
    printf '\ndemo: %s\n' "$*" >&2
    exit 1
}

section() { printf '\n== %s\n' "$*"; }
note() { printf '%s\n' "$*"; }

# Runs `tripwire ARGS...` with its output shown as it comes (a terminal sees the progress of an
# install), and stops the demo when its exit status is not the expected one.
tripwire_expect() {
    local expected=$1 status=0
    shift
    printf '$ tripwire %s\n' "$*"
    "$tripwire" "$@" || status=$?
    [ "$status" -eq "$expected" ] ||
        fail "'tripwire $*' ended with status $status, expected $expected"
}

event_count() { if [ -f "$events" ]; then wc -l <"$events"; else echo 0; fi; }

# The events after the first FROM lines, one data key a line (every value is a string, so `","`
# only ever separates two pairs); keys with empty values on one line, long texts shortened.
show_events_since() {
    local from=$1 line
    [ "$(event_count)" -gt "$from" ] || fail "no telemetry event was written to $events"
    tail -n +"$((from + 1))" "$events" | while IFS= read -r line; do
        printf '  %s\n' "$(sed -n 's/.*"eventKey":"\([^"]*\)".*/\1/p' <<<"$line")"
        sed -e 's/.*"data":{\(.*\)}}$/\1/' -e 's/","/"\n"/g' <<<"$line" |
            sed -n 's/^"\([^"]*\)":"\(.*\)"$/\1\t\2/p' |
            awk -F '\t' '
                $2 == "" { empties[++n] = $1; next }
                { text = "    " $1 ": " $2
                  print (length(text) > 110 ? substr(text, 1, 107) "..." : text) }
                END {
                    if (n == 0) exit
                    text = "    empty:"
                    for (i = 1; i <= n; i++) {
                        if (length(text) + length(empties[i]) > 100) { print text; text = "         " }
                        text = text " " empties[i] (i < n ? "," : "")
                    }
                    print text
                }'
    done
}

# The arguments of the installer runs after the first FROM lines of installer.log.
show_installer_runs_since() {
    local from=$1
    tail -n +"$((from + 1))" "$storage/installer.log" 2>/dev/null |
        sed -n 's/.*"arguments":\(\[[^]]*\]\).*"exitCode":\([0-9-]*\).*/  exit \2: \1/p'
}
installer_runs() { if [ -f "$storage/installer.log" ]; then wc -l <"$storage/installer.log"; else echo 0; fi; }

# Starts the sample server on the archive and sets base_url to what it prints once it listens.
start_sample_server() {
    "$sample_server" "$archive" >"$demo_home/server.out" 2>"$demo_home/server.log" &
    server_pid=$!
    for _ in $(seq 1 100); do
        [ "$(wc -l <"$demo_home/server.out")" -ge 1 ] && break
        kill -0 "$server_pid" 2>/dev/null || {
            cat "$demo_home/server.log" >&2
            server_pid=
            fail "the sample server did not start"
        }
        sleep 0.1
    done
    read -r base_url <"$demo_home/server.out" || fail "the sample server printed no URL"
}

trap cleanup EXIT
trap 'printf "\ninterrupted\n"; exit 130' INT TERM

# A run that was killed may have left its service host running in the old home.
stop_demo_processes
rm -rf "$demo_home"
mkdir -p "$demo_home"

printf 'The tripwire demo: the sample installation %s, in a throw-away home %s\n' \
    "$version" "$demo_home"

section "Round 1: install from the local archive in the install tree"
note "local sources: $sources ($(basename "$archive"))"
tripwire_expect 1 check "$version"
events_before=$(event_count)
runs_before=$(installer_runs)
tripwire_expect 0 install --triggered-by demo
tripwire_expect 0 running
tripwire_expect 0 check "$version"
note "the installer ran (installer.log):"
show_installer_runs_since "$runs_before"
note "telemetry written (events.jsonl):"
show_events_since "$events_before"

section "Round 2: install by download from a loopback server"
stop_demo_processes
tripwire_expect 1 running
start_sample_server
note "sample server: $base_url, serving $(basename "$archive")"
printf '$ curl -s %s/tripwire/latest.json\n' "$base_url"
curl -s --noproxy '*' "$base_url/tripwire/latest.json" || fail "the sample server did not answer"
export QB_URL_QUILLBECK_DOT_COM="$base_url"
export QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES="$demo_home/no-local-sources"
mkdir -p "$QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES"
served_before=$(wc -l <"$demo_home/server.log")
note "QB_URL_QUILLBECK_DOT_COM=$QB_URL_QUILLBECK_DOT_COM"
note "QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES=$QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES (empty)"
events_before=$(event_count)
runs_before=$(installer_runs)
log_before=$(if [ -f "$QB_LOG_FILE" ]; then wc -l <"$QB_LOG_FILE"; else echo 0; fi)
tripwire_expect 0 install --triggered-by demo-download
note "the document's signature (tripwire.log):"
tail -n +"$((log_before + 1))" "$QB_LOG_FILE" | grep -o "The latest-version document's signature verified.*" |
    sed 's/^/  /' | grep . || fail "the download round did not verify the document's signature"
note "the sample server answered:"
tail -n +"$((served_before + 1))" "$demo_home/server.log" | sed -n 's/^\(GET\|HEAD\) /  &/p'
tripwire_expect 0 running
note "the installer ran (installer.log):"
show_installer_runs_since "$runs_before"
note "telemetry written (events.jsonl):"
show_events_since "$events_before"

section "Round 3: status, stop and ensure"
tripwire_expect 0 status
tripwire_expect 0 stop
tripwire_expect 1 running
note "ensure: not running, installed and new enough, so it starts the installation"
tripwire_expect 0 ensure "$version"
tripwire_expect 0 ensure "$version"
tripwire_expect 0 stop
note "a failure says why, on one line (the lookup's server is gone):"
QB_URL_QUILLBECK_DOT_COM="http://127.0.0.1:9" tripwire_expect 3 install

section "Clean-up"
stop_sample_server
stop_demo_processes
tripwire_expect 1 running
trap - EXIT INT TERM
printf '\nBoth rounds installed and started the service host; nothing is left running.\n'
printf 'The demo home (diagnostic log: tripwire.log) stays until the next run: %s\n' "$demo_home"
