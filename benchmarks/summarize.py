#!/usr/bin/env python3
"""Runs zv_benchmarks once and prints every figure as a ratio to its yardstick.

    python3 benchmarks/summarize.py build/default/bin/zv_benchmarks [benchmark options]
    python3 benchmarks/summarize.py --json results.json

Without options the binary runs with the settings of docs/benchmarks.md. All
ratios come from one run, so both sides of each pair saw the same machine.
Each figure is the median over repetitions of the median batch (see
RunBatches in BenchmarkRegistry.h); a ratio above 1 means ours is faster.
"""

import json
import statistics
import subprocess
import sys

DEFAULT_OPTIONS = [
    "--benchmark_repetitions=7",
    "--benchmark_min_time=0.2",
    "--benchmark_enable_random_interleaving=true",
    "--benchmark_report_aggregates_only=true",
]
SIZES = [256, 2048, 16384, 4194304]


def load(argv):
    if len(argv) >= 2 and argv[0] == "--json":
        with open(argv[1], encoding="utf-8") as handle:
            return json.load(handle)
    if not argv:
        sys.exit(__doc__)
    options = argv[1:] or DEFAULT_OPTIONS
    command = [argv[0], "--benchmark_format=json"] + options
    print("running:", " ".join(command), file=sys.stderr)
    result = subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True)
    return json.loads(result.stdout)


def figures(report):
    """name -> (samples per second, ns per call), medians over repetitions."""
    runs = {}
    medians = {}
    for entry in report["benchmarks"]:
        if entry.get("error_occurred"):
            print("error in", entry["name"], ":", entry.get("error_message"), file=sys.stderr)
            continue
        name = entry["run_name"].replace("/manual_time", "")
        if "median_samples_per_s" not in entry:
            continue
        value = (entry["median_samples_per_s"], entry["median_ns_per_call"])
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                medians[name] = value
        else:
            runs.setdefault(name, []).append(value)
    for name, values in runs.items():
        if name not in medians:
            medians[name] = (statistics.median(v[0] for v in values),
                             statistics.median(v[1] for v in values))
    return medians


def sinad_figures(report):
    """name -> {counter: value} for the resampler's SINAD counters (constant per run)."""
    found = {}
    for entry in report["benchmarks"]:
        counters = {k: v for k, v in entry.items() if k.startswith("sinad_")}
        if counters:
            found.setdefault(entry["run_name"].replace("/manual_time", ""), counters)
    return found


def print_resampler(data, sinad):
    subjects = [s for s in ("Ours", "PathSSE2", "PathScalar", "Swresample")
                if f"Resample/{s}/2048" in data]
    if not subjects:
        return
    print("Resample (+1000 ppm) and convert to 16-bit, 1024-frame stereo blocks")
    print(f"  {'':<12}{'Msamples/s':>11}{'CPU at 48k':>11}   SINAD dB s16 / float at"
          f" 997 Hz, 10 kHz, 18 kHz")
    for subject in subjects:
        name = f"Resample/{subject}/2048"
        rate = data[name][0]
        share = 96000.0 / rate * 100.0  # 48 kHz stereo in real time
        figures = sinad.get(name, {})
        cells = "  ".join(
            f"{figures[f'sinad_s16_{hz}']:.1f}/{figures[f'sinad_float_{hz}']:.1f}"
            for hz in (997, 10000, 18000) if f"sinad_s16_{hz}" in figures)
        print(f"  {subject:<12}{rate / 1e6:>11.1f}{share:>10.3f}%   {cells}")
    print()


DRIFT_QUALITY = ("sinad_997", "sinad_18000", "worst_block_sinad_997", "worst_block_sinad_18000",
                 "gain_18000_db", "delay_frames", "ratio_error_ppm", "refused_ratios")


def drift_quality(report):
    """name -> {counter: value} for the Drift family's quality counters (constant per run)."""
    found = {}
    for entry in report["benchmarks"]:
        name = entry["run_name"].replace("/manual_time", "")
        if name.startswith("Drift/") and "sinad_997" in entry:
            found.setdefault(name, {k: entry[k] for k in DRIFT_QUALITY if k in entry})
    return found


def print_drift(data, quality):
    order = ["Ours", "ZitaVResampler32", "Speex5", "Speex10", "SrcSincFastest", "SrcSincMedium",
             "SoxrVrHq", "Swresample"]
    present = {name.split("/")[1] for name in data if name.startswith("Drift/")}
    subjects = [s for s in order if s in present] + sorted(present - set(order))
    if not subjects:
        return
    print("Drift correction, 1024-frame stereo float blocks, float out: 1 + 300 ppm (constant)"
          " and +-1000 ppm changing every block (swept)")
    print(f"  {'':<18}{'Msamples/s':>18}  {'SINAD dB 997 Hz':>22}  {'SINAD dB 18 kHz':>22}"
          f"{'gain':>8}{'delay':>7}{'ratio':>8}")
    print(f"  {'':<18}{'const':>9}{'swept':>9}  {'const':>7}{'swept':>7}{'worst':>8}"
          f"  {'const':>7}{'swept':>7}{'worst':>8}{'18k dB':>8}{'frames':>7}{'ppm':>8}")
    for subject in subjects:
        constant = f"Drift/{subject}/Constant"
        swept = f"Drift/{subject}/Swept"
        c = quality.get(constant, {})
        w = quality.get(swept, {})
        rates = "".join(f"{data[n][0] / 1e6:>9.1f}" if n in data else f"{'-':>9}"
                        for n in (constant, swept))
        def cell(figures, key, width=7, digits=1):
            return f"{figures[key]:>{width}.{digits}f}" if key in figures else f"{'-':>{width}}"
        refused = c.get("refused_ratios", 0) + w.get("refused_ratios", 0)
        print(f"  {subject:<18}{rates}  {cell(c, 'sinad_997')}{cell(w, 'sinad_997')}"
              f"{cell(w, 'worst_block_sinad_997', 8)}  {cell(c, 'sinad_18000')}"
              f"{cell(w, 'sinad_18000')}{cell(w, 'worst_block_sinad_18000', 8)}"
              f"{cell(c, 'gain_18000_db', 8, 2)}{cell(c, 'delay_frames', 7)}"
              f"{cell(c, 'ratio_error_ppm', 8, 2)}" + (f"  {refused:.0f} ratios refused" if refused else ""))
    print()


def add_sdl_net(data):
    """SDL2 converts in place, so each of its runs restores the input first;
    its own conversion time is the run minus the restoring alone."""
    for size in SIZES:
        total = data.get(f"Convert/SDL2/{size}")
        restore = data.get(f"Convert/SDL2Restore/{size}")
        if total and restore and total[1] > restore[1]:
            net_ns = total[1] - restore[1]
            data[f"Convert/SDL2net/{size}"] = (size / (net_ns * 1e-9), net_ns)


def ratio(data, ours, theirs):
    if ours not in data or theirs not in data:
        return None
    return data[ours][0] / data[theirs][0]


def print_conversions(data):
    order = ["Ours", "PathAVX2", "PathSSE2", "PathScalar", "Reference", "Swresample", "SDL2net",
             "SDL2", "SDL2Restore", "Read4Write2", "Memcpy6B"]
    present = {name.split("/")[1] for name in data if name.startswith("Convert/")}
    subjects = [s for s in order if s in present] + sorted(present - set(order))
    print("Conversion throughput, Gsamples/s (median batch, median of repetitions)")
    print(f"  {'':<14}" + "".join(f"{size:>12}" for size in SIZES))
    for subject in subjects:
        cells = []
        for size in SIZES:
            value = data.get(f"Convert/{subject}/{size}")
            cells.append(f"{value[0] / 1e9:>12.2f}" if value else f"{'-':>12}")
        print(f"  {subject:<14}" + "".join(cells))
    print()


def goals(data):
    rows = []
    for size in (2048, 16384):
        rows.append((f"conversion {size} vs libswresample", f"Convert/Ours/{size}",
                     f"Convert/Swresample/{size}", 1.0))
        rows.append((f"conversion {size} vs read-4/write-2 kernel", f"Convert/Ours/{size}",
                     f"Convert/Read4Write2/{size}", 0.45))
    rows.append(("conversion 256 vs SDL2", "Convert/Ours/256", "Convert/SDL2net/256", 1.5))
    peers = [f"Convert/{peer}/4194304" for peer in ("Swresample", "SDL2net")
             if f"Convert/{peer}/4194304" in data]
    fastest = max(peers, key=lambda name: data[name][0]) if peers else "Convert/none/4194304"
    rows.append((f"conversion 4M vs fastest peer ({fastest.split('/')[1]})",
                 "Convert/Ours/4194304", fastest, 0.95))
    rows.append(("OnUnityAudio export 2048 vs libswresample conversion",
                 "Intake/Export/2048", "Convert/Swresample/2048", 0.5))
    rows.append(("resample+convert 2048 at max correction vs libswresample",
                 "Resample/Ours/2048", "Resample/Swresample/2048", 1.0))
    rows.append(("ring Write+Take 2048 vs memcpy", "Ring/WriteTake/2048", "Ring/Memcpy/2048", 0.85))
    rows.append(("request-path fill 2048 vs memcpy", "Fill/Request/2048", "Fill/Memcpy/2048", 0.85))
    # The same steps written plainly in one function (Lock/Fill): what the
    # callback's dispatch and the plug-in's structure may cost on top.
    rows.append(("request-path fill 2048 vs the plain locked fill", "Fill/Request/2048",
                 "Lock/Fill/2048", 0.9))
    return rows


def informational(data):
    rows = [
        ("OnUnityAudio export 2048 vs our bare conversion", "Intake/Export/2048",
         "Intake/Convert/2048"),
        ("intake + request 2048, latency control on vs off", "Intake/Steered/2048",
         "Intake/Unsteered/2048"),
        ("streamMutex held per intake (2048) vs memcpy", "Lock/Intake/2048",
         "Lock/MemcpyIn/2048"),
        ("streamMutex held per fill (2048) vs memcpy", "Lock/Fill/2048", "Fill/Memcpy/2048"),
    ]
    for size in SIZES:
        rows.append((f"conversion {size} vs memcpy of 6 bytes/sample", f"Convert/Ours/{size}",
                     f"Convert/Memcpy6B/{size}"))
    return rows


def main():
    report = load(sys.argv[1:])
    context = report.get("context", {})
    print(f"host: {context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs, "
          f"conversion path {context.get('conversion_path', '?')}, "
          f"read-4/write-2 kernel {context.get('read4_write2_path', '?')}")
    data = figures(report)
    add_sdl_net(data)
    print_conversions(data)
    print_resampler(data, sinad_figures(report))
    print_drift(data, drift_quality(report))

    print("Goals (ratio = our throughput / yardstick throughput)")
    print(f"  {'pair':<58}{'ratio':>8}{'goal':>8}  verdict")
    missed = 0
    for label, ours, theirs, goal in goals(data):
        value = ratio(data, ours, theirs)
        if value is None:
            print(f"  {label:<58}{'n/a':>8}{goal:>8.2f}  not measured (peer missing)")
            continue
        verdict = "met" if value >= goal else f"MISSED by {100 * (1 - value / goal):.0f}%"
        missed += value < goal
        print(f"  {label:<58}{value:>8.2f}{goal:>8.2f}  {verdict}")
    print()
    print("For information")
    for label, ours, theirs in informational(data):
        value = ratio(data, ours, theirs)
        ns = data.get(ours, (0, 0))[1]
        shown = f"{value:.2f}" if value is not None else "n/a"
        print(f"  {label:<58}{shown:>8}   ({ns:.0f} ns per call)")
    print()
    print(f"{missed} goal(s) missed")


if __name__ == "__main__":
    main()
