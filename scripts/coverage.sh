#!/usr/bin/env bash
# Line and branch coverage of the code outside tests/ (and bench/, which no test runs), per top
# folder and in total, from a gcov build that has just run the suite.
# Usage: scripts/coverage.sh <build dir>
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
summary="$build/coverage-summary.json"
gcovr --root . --object-directory "$build" -j 2 \
  --filter '(tripwire|tripwireimpl|framework|platform|bundles|host|sample|tools|resources)/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --json-summary "$summary" >/dev/null
python3 - "$summary" <<'PY'
import collections, json, sys
files = json.load(open(sys.argv[1]))["files"]
rows = collections.OrderedDict()
for f in sorted(files, key=lambda f: f["filename"]):
    top = f["filename"].split("/", 1)[0]
    r = rows.setdefault(top, [0, 0, 0, 0])
    r[0] += f["line_covered"]; r[1] += f["line_total"]
    r[2] += f["branch_covered"]; r[3] += f["branch_total"]
total = [sum(r[i] for r in rows.values()) for i in range(4)]
pct = lambda a, b: f"{100.0 * a / b:5.1f}%" if b else "    -"
print(f"{'folder':<14}{'lines':>16}{'line %':>9}{'branches':>16}{'branch %':>10}")
for name, r in list(rows.items()) + [("total", total)]:
    print(f"{name:<14}{r[0]:>7} / {r[1]:<6}{pct(r[0], r[1]):>9}{r[2]:>7} / {r[3]:<6}{pct(r[2], r[3]):>10}")
PY
