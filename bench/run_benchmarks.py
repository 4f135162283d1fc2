#!/usr/bin/env python3
"""Runs the benchmark programs and prints one table: each figure of ours next to its baseline,
measured in the same run (repetitions interleaved at random, medians compared).

    run_benchmarks.py BUILD_BENCH_DIR [--quick] [--keep-json DIR]

--quick uses 64 MiB archives (a smoke run, not figures to quote).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

INTERLEAVE = "--benchmark_enable_random_interleaving=true"


def run(program, arguments, json_path, log):
    command = [program, INTERLEAVE, "--benchmark_out=" + json_path,
               "--benchmark_out_format=json"] + arguments
    print("running " + os.path.basename(program) + " ...", file=sys.stderr, flush=True)
    subprocess.run(command, check=True, stdout=log, stderr=subprocess.STDOUT)
    with open(json_path) as f:
        return json.load(f)


def medians(document):
    """{benchmark name: median aggregate entry}, names without Google Benchmark's suffixes."""
    found = {}
    for entry in document["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            found[entry["run_name"].split("/iterations:")[0].split("/min_time:")[0]] = entry
    return found


def seconds(entry, kind):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
    return entry[kind] * scale


class Table:
    def __init__(self):
        self.rows = []

    def add(self, name, ours, baseline, unit, limit=None, ratio=None, note=""):
        """limit: most the ratio (or, without a baseline, the figure itself) may be."""
        if ratio is None and ours is not None and baseline:
            ratio = ours / baseline
        judged = ratio if baseline else ours
        if limit is None:
            target, within = "report", "-"
        else:
            target = ("<= %.2fx" if baseline else "<= %g " + unit) % limit
            within = "yes" if judged is not None and judged <= limit else "no"
        self.rows.append([name, figure(ours, unit), figure(baseline, unit),
                          "%.2f" % ratio if ratio is not None else "-", target, within])
        if note:
            self.rows[-1][0] += " " + note

    def print(self):
        header = ["benchmark", "ours", "baseline", "ratio", "target", "within target"]
        widths = [max(len(str(row[i])) for row in self.rows + [header]) for i in range(6)]
        line = lambda row: "| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |"
        print(line(header))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for row in self.rows:
            print(line(row))


def figure(value, unit):
    if value is None:
        return "-"
    if unit in ("us", "ms"):
        return "%.1f %s" % (value, unit)
    return "%.0f %s" % (value, unit)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench_dir")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--keep-json")
    options = parser.parse_args()

    size = "64" if options.quick else "256"
    work = options.keep_json or tempfile.mkdtemp(prefix="tripwire-bench.")
    os.makedirs(work, exist_ok=True)
    log_path = os.path.join(work, "benchmarks.log")
    with open(log_path, "w") as log:
        program = lambda name: os.path.join(options.bench_dir, name)
        quick = []
        module = medians(run(program("module_bench"), quick, os.path.join(work, "module.json"), log))
        download = medians(run(program("download_bench"), ["--size-mib", size] + quick,
                               os.path.join(work, "download.json"), log))
        extract = medians(run(program("extract_bench"), ["--size-mib", size] + quick,
                              os.path.join(work, "extract.json"), log))

    table = Table()
    us = lambda name, kind="cpu_time": seconds(module[name], kind) * 1e6
    ms = lambda entries, name, kind="real_time": seconds(entries[name], kind) * 1e3

    table.add("1. areHALVEXServicesRunning(STANDARD), override + 4 agents (CPU)",
              us("running/areHALVEXServicesRunning"), us("running/raw listing and lock probes"),
              "us", 1.5)
    table.add("1. areHALVEXServicesRunning median, wall clock",
              us("running/areHALVEXServicesRunning", "real_time"), None, "us")
    table.add("2. checkHALVEXServicesInstallation(STANDARD, v) (CPU)",
              us("installation/checkHALVEXServicesInstallation"),
              us("installation/raw read and parse"), "us", 2.0)
    cold = module["framework/cold start"]
    table.add("3. create and start a framework", cold["create_us"], None, "us")
    table.add("3. install and start the DS bundle and the module", cold["install_start_us"],
              None, "us")
    table.add("3. first GetService (loads the module, activates)", cold["first_get_service_us"],
              None, "us")
    table.add("3. getService<T> lookup, median wall clock",
              us("framework/getService lookup", "real_time"), None, "us", 5.0)

    label = size + " MiB"
    ours = ms(download, "download/fetchKCI")
    table.add("4. download " + label + ": verified fetchKCI vs curl -s -o + sync (no digest)",
              ours, ms(download, "download/curl -s -o, sync"), "ms", 1.1)
    table.add("4. download " + label + ": fetchKCI vs curl -s -o + sha256 + sync", ours,
              ms(download, "download/curl -s -o, sha256, sync"), "ms", 1.1)
    table.add("4. download " + label + ": fetchKCI vs curl -s -o alone (info)", ours,
              ms(download, "download/curl -s -o"), "ms")
    table.add("4. download " + label + ": no digest in the URL vs curl -s -o (info)",
              ms(download, "download/fetchKCI without digest"),
              ms(download, "download/curl -s -o"), "ms")
    table.add("4. download " + label + ": baseline with sync vs without (info: cost of sync)",
              ms(download, "download/curl -s -o, sha256, sync"),
              ms(download, "download/curl -s -o, sha256"), "ms")

    cpu = lambda name: extract[name]["cpu_s"] * 1e3
    wall = lambda name: ms(extract, name)
    for tool, limit in (("bsdtar -xf", 1.05), ("unzip -q", 1.0)):
        table.add("5. extract " + label + ", 2000 files, vs " + tool + " (CPU)",
                  cpu("extract/extractKCIAndReturnVersion"), cpu("extract/" + tool), "ms", limit)
        table.add("5. extract " + label + ", 2000 files, vs " + tool + " (wall, info)",
                  wall("extract/extractKCIAndReturnVersion"), wall("extract/" + tool), "ms")

    ours_name, shell_name = ("install/installAndStartHALVEXServices(DRIVE)",
                             "install/shell: cp, bsdtar -xf, installer, rm -rf")
    table.add("6. install from a local 64 MiB archive, no-op installer, mode 1 (CPU)",
              module[ours_name]["cpu_s"] * 1e3, module[shell_name]["cpu_s"] * 1e3, "ms", 1.15)
    table.add("6. install from a local 64 MiB archive, no-op installer, mode 1 (wall, info)",
              ms(module, ours_name), ms(module, shell_name), "ms")
    table.add("7. RSS added by loading the module and activating it", cold["rss_added_kib"],
              None, "KiB")
    small = download["memory/download peak, quarter size"]["peak_kib"]
    large = download["memory/download peak, full size"]["peak_kib"]
    table.add("7. peak RSS of a " + label + " download vs a quarter-size one", large, small,
              "KiB", 1.05)
    table.print()
    print("\nfigures are medians; JSON and the full output are in " + work)


if __name__ == "__main__":
    main()
