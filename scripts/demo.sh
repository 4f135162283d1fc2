#!/usr/bin/env bash
# The main job: the `tripwire` host on the built-in sample installation, run from the staged
# install tree of a build folder, in a throw-away home under build/demo/ so that nothing of the
# user's own data is touched and nothing is left running.
set -euo pipefail
build=${1:-build/default}
stage="$build/stage"
tripwire="$stage/bin/tripwire"
demo_home="$(dirname "$build")/demo"

rm -rf "$demo_home"
mkdir -p "$demo_home"
export HOME="$demo_home" XDG_DATA_HOME="$demo_home/data" QB_TELEMETRY_DIR="$demo_home/telemetry"
export QB_FEATURE_FLAGS="QSHInstallErrorTELX,QSHTripwireStartupTELX"

step() { printf '\n== %s\n$ %s\n' "$1" "${*:2}"; }
run() { "$@" || printf '(exit status %d)\n' "$?"; }

step "The host and its version" tripwire --version
run "$tripwire" --version

step "The module loaded into a framework" tripwire info
run "$tripwire" info

printf '\nSample installation: %s\n' "$(ls "$stage"/sys/qbds/win64/)"
printf 'Demo home (removed at the next run): %s\n' "$demo_home"
