"""Turns the benchmark JSON of one run into a Markdown table of ratios.

Every figure that has a reference is given against a reference measured in
alternation with it (bench/paired.h): the median of the per-pair ratios or
differences, with their quartiles, because absolute times on shared
machines vary and load shifts while a benchmark runs.
"""
import datetime
import json
import os
import platform
import subprocess
import sys


def load(folder):
    """Median rows of repeated benchmarks, and the single rows of paired
    ones (which run once: their pairs are the repetitions)."""
    medians = {}
    counters = {}
    pairs = {}
    context = None
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(folder, name)) as f:
            data = json.load(f)
        context = context or data["context"]
        for b in data["benchmarks"]:
            if "rate" in b and b.get("run_type") == "iteration":
                pairs[b["run_name"]] = b
                continue
            if b.get("aggregate_name") != "median":
                continue
            key = b["run_name"]
            medians[key] = b
            counters[key] = {k: v for k, v in b.items()
                             if k == "C_FindObjects" or k.startswith("peak_kib")}
    return medians, counters, pairs, context


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main():
    folder, command, repetitions = sys.argv[1], sys.argv[2], sys.argv[3]
    medians, counters, pairs, context = load(folder)
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip() or "unknown"
    dirty = subprocess.run(["git", "status", "--porcelain"], capture_output=True,
                           text=True).stdout.strip()
    print(f"# Benchmarks, {datetime.date.today().isoformat()}\n")
    print(f"- Machine: {cpu_model()}, {context['num_cpus']} CPUs, "
          f"{platform.system()} {platform.release()}")
    print(f"- Commit: {commit}"
          f"{' (with local changes: not a recorded result)' if dirty else ''}")
    print(f"- Command: `{command}`. Ratios and added times: median of pairs measured in "
          f"alternation, [quartiles], from wall time and from the CPU time of the threads "
          f"concerned (which a busy machine's waits do not enter); other times: medians of "
          f"{repetitions} repetitions\n")

    def paired(stem):
        """The paired row of `stem`, whatever suffixes its options added."""
        for name, b in pairs.items():
            if name == stem or name.startswith(stem + "/"):
                return b
        return None

    def spread(b, counter, digits):
        return (f"{b[counter]:,.{digits}f} [{b[counter + '_q1']:,.{digits}f}–"
                f"{b[counter + '_q3']:,.{digits}f}]")

    print("## Codecs: throughput against OpenSSL\n")
    print("| codec | size | ours (MB/s) | OpenSSL (MB/s) | ours / OpenSSL [quartiles] "
          "| by CPU time [quartiles] |")
    print("|---|---:|---:|---:|---:|---:|")
    for codec in ["HexEncode", "HexDecode", "Base64Encode", "Base64Decode", "PemWrap",
                  "PemUnwrap"]:
        for size in ["64", "1024", "1048576"]:
            b = paired(f"BM_{codec}/{size}")
            if b is None:
                continue
            ours = b["bytes_per_run"] / b["subject_us"]  # bytes per µs = MB/s
            ref = b["bytes_per_run"] / b["reference_us"]
            print(f"| {codec} | {size} | {ours:,.0f} | {ref:,.0f} | {spread(b, 'rate', 2)} | "
                  f"{spread(b, 'cpu_rate', 2)} |")

    def time_us(name):
        b = medians.get(name)
        if not b:
            return None
        scale = {"ns": 1e-3, "us": 1, "ms": 1e3, "s": 1e6}[b["time_unit"]]
        return b["real_time"] * scale

    sign = paired("BM_Sign_VsRaw")
    if sign:
        print("\n## Token: RSA-2048 signatures (SoftHSM2)\n")
        print("| road | µs per signature | signatures/s | rate / raw module [quartiles] "
              "| by CPU time [quartiles] |")
        print("|---|---:|---:|---:|---:|")
        raw = sign["reference_us"]
        print(f"| raw C_SignInit + C_Sign | {raw:,.0f} | {1e6 / raw:,.0f} | 1 | 1 |")
        for label, stem in [("Sign, control in-process", "BM_Sign_VsRaw"),
                            ("SignByCertSerial, control in-process",
                             "BM_SignByCertSerial_VsRaw")]:
            b = paired(stem)
            if b:
                t = b["subject_us"]
                print(f"| {label} | {t:,.0f} | {1e6 / t:,.0f} | {spread(b, 'rate', 3)} | "
                      f"{spread(b, 'cpu_rate', 3)} |")

    listing = [(int(k.split("/")[1]), k) for k in medians if k.startswith("BM_EnumCertificate")]
    if listing:
        print("\n## EnumCertificate: listing n certificates by position\n")
        print("| n | C_FindObjects calls | µs per listing | µs per certificate |")
        print("|---:|---:|---:|---:|")
        for n, k in sorted(listing):
            t = time_us(k)
            calls = counters[k].get("C_FindObjects", 0)
            print(f"| {n} | {calls:.0f} | {t:,.0f} | {t / n:,.1f} |")

    cold, warm = time_us("BM_ConnectToken_Cold"), time_us("BM_ConnectToken_Warm")
    if cold and warm:
        print("\n## ConnectToken\n")
        print("| case | µs | / warm |")
        print("|---|---:|---:|")
        print(f"| cold: new control, both modules loaded and initialised | {cold:,.0f} | "
              f"{cold / warm:.1f} |")
        print(f"| warm: again on a connected control | {warm:,.0f} | 1.0 |")

    host = [(label, paired(f"BM_{stem}_Host/framed:0"), paired(f"BM_{stem}_Host/framed:1"))
            for label, stem in [("VerifyCertCRL (no token work)", "VerifyCertCrl"),
                                ("Sign, RSA-2048 on SoftHSM2", "Sign")]]
    if all(lines and frames for _, lines, frames in host):
        print("\n## Host round trip\n")
        print("Added: the hosted call less the same call in-process, per pair. CPU added: "
              "the same in CPU time of both processes; a busy machine makes every hand-over "
              "between the processes wait for a CPU, which shows in the first, not the second.\n")
        print("| call | framing | in-process µs | hosted µs | added by the host, µs "
              "[quartiles] | CPU added, µs [quartiles] |")
        print("|---|---|---:|---:|---:|---:|")
        for label, lines, frames in host:
            for framing, b in [("--lines", lines), ("frames", frames)]:
                print(f"| {label} | {framing} | {b['reference_us']:,.2f} | "
                      f"{b['subject_us']:,.1f} | {spread(b, 'added_us', 1)} | "
                      f"{spread(b, 'cpu_added_us', 1)} |")

    memory = counters.get("BM_HostPeakMemory/iterations:1/real_time")
    peak_heap = massif_peak(sys.argv[1], "tarvona-host")
    if memory or peak_heap:
        print("\n## Host memory\n")
        print("| measure | value |")
        print("|---|---:|")
        if peak_heap:
            print(f"| peak heap over the demo's typical road (massif) | {peak_heap / 1024:,.0f} KiB |")
        if memory:
            road = memory["peak_kib_after_road"]
            after = memory["peak_kib_after_10000_calls"]
            print(f"| peak resident size after the typical road | {road:,.0f} KiB |")
            print(f"| peak resident size after 10 000 more calls | {after:,.0f} KiB |")
            print(f"| growth over 10 000 calls | {after - road:,.0f} KiB |")


def massif_peak(folder, program):
    """Peak heap (bytes, with allocator overhead) of `program` in massif files."""
    for name in os.listdir(folder):
        if not name.startswith("massif."):
            continue
        with open(os.path.join(folder, name)) as f:
            text = f.read()
        if program not in text.split("\n", 2)[1]:
            continue
        peak = 0
        heap = extra = 0
        for line in text.splitlines():
            if line.startswith("mem_heap_B="):
                heap = int(line.split("=")[1])
            elif line.startswith("mem_heap_extra_B="):
                extra = int(line.split("=")[1])
                peak = max(peak, heap + extra)
        return peak
    return None


if __name__ == "__main__":
    main()
