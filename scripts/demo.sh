#!/usr/bin/env bash
# The main job: the `tripwire` host on the built-in sample installation, run from the staged
# install tree of a build folder, in a throw-away home under build/demo/ so that nothing of the
# user's own data is touched and nothing is left running.
set -euo pipefail
build=${1:-build/default}
stage="$(cd "$build/stage" && pwd)"
tripwire="$stage/bin/tripwire"
demo_home="$(cd "$(dirname "$build")" && pwd)/demo"

rm -rf "$demo_home"
mkdir -p "$demo_home"
export HOME="$demo_home" XDG_DATA_HOME="$demo_home/data" QB_TELEMETRY_DIR="$demo_home/telemetry"
export QB_FEATURE_FLAGS="QSHInstallErrorTELX,QSHTripwireStartupTELX"
storage="$XDG_DATA_HOME/Quillbeck/RodudedOzovizaz"

archive=$(ls "$stage"/sys/qbds/win64/kci_*.zip | head -n 1)
version=$(basename "$archive" .zip)
version=${version#kci_}

stop_service_host() {
    for lock in "$storage"/locks/*.lock; do
        [ -f "$lock" ] || continue
        pid=$(head -n 1 "$lock")
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" && printf 'stopped the sample service host (pid %s)\n' "$pid"
        fi
    done
}
trap stop_service_host EXIT

step() { printf '\n== %s\n$ %s\n' "$1" "$2"; }
run() { "$@" || printf '(exit status %d)\n' "$?"; }

step "The host, and the module loaded into a framework" "tripwire info"
run "$tripwire" info

step "Nothing is installed in the fresh home yet" "tripwire check $version"
run "$tripwire" check "$version"

step "Install the built-in sample installation by hand" \
    "unzip $(basename "$archive") && bin/QuillbeckServiceHostInstaller -mode silent -triggeredby TRIPWIRE_demo"
unpacked="$demo_home/unpacked"
mkdir -p "$unpacked"
unzip -q "$archive" -d "$unpacked"
"$unpacked/bin/QuillbeckServiceHostInstaller" -mode silent -triggeredby TRIPWIRE_demo
printf 'exit status %d; LatestInstall.info:\n' "$?"
sed 's/^/    /' "$storage/LatestInstall.info"

step "Installed and new enough" "tripwire check $version"
run "$tripwire" check "$version"
step "A newer version would be required" "tripwire check 9999.0.0.0"
run "$tripwire" check 9999.0.0.0

step "Not running yet" "tripwire running"
run "$tripwire" running

step "Start the service host and wait for its agent" "tripwire start"
run "$tripwire" start
step "Running now" "tripwire --json running"
run "$tripwire" --json running

step "The usage event the start sent" "cat \$QB_TELEMETRY_DIR/events.jsonl"
cat "$QB_TELEMETRY_DIR/events.jsonl" 2>/dev/null || echo "(no events)"

printf '\n'
stop_service_host
trap - EXIT
printf 'Demo home (removed at the next run): %s\n' "$demo_home"
