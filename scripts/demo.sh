#!/usr/bin/env bash
# The main job, run from the staged install tree of a build folder.
set -euo pipefail
build=${1:-build/default}
exec "$build/stage/bin/framework-example"
