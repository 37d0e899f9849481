"""Turns the benchmark JSON of one run into a Markdown table of ratios.

Every figure that has a reference is given as a ratio to a reference
measured in the same run (medians of the repetitions), because absolute
times on shared machines vary.
"""
import datetime
import json
import os
import platform
import subprocess
import sys


def load(folder):
    medians = {}
    counters = {}
    context = None
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(folder, name)) as f:
            data = json.load(f)
        context = context or data["context"]
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            key = b["run_name"]
            medians[key] = b
            counters[key] = {k: v for k, v in b.items()
                             if k == "C_FindObjects" or k.startswith("peak_kib")}
    return medians, counters, context


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
    medians, counters, context = load(folder)
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip() or "unknown"
    dirty = subprocess.run(["git", "status", "--porcelain"], capture_output=True,
                           text=True).stdout.strip()
    print(f"# Benchmarks, {datetime.date.today().isoformat()}\n")
    print(f"- Machine: {cpu_model()}, {context['num_cpus']} CPUs, "
          f"{platform.system()} {platform.release()}")
    print(f"- Commit: {commit}{' (with local changes)' if dirty else ''}")
    print(f"- Command: `{command}` (medians of {repetitions} repetitions each)\n")

    def rate(name):
        return medians[name]["bytes_per_second"] if name in medians else None

    print("## Codecs: throughput against OpenSSL\n")
    print("| codec | size | ours (MB/s) | OpenSSL (MB/s) | ours / OpenSSL |")
    print("|---|---:|---:|---:|---:|")
    for codec in ["HexEncode", "HexDecode", "Base64Encode", "Base64Decode", "PemWrap",
                  "PemUnwrap"]:
        for size in ["64", "1024", "1048576"]:
            ours = rate(f"BM_{codec}/{size}")
            ref = rate(f"BM_{codec}_OpenSsl/{size}")
            if ours is None or ref is None:
                continue
            print(f"| {codec} | {size} | {ours / 1e6:,.0f} | {ref / 1e6:,.0f} | "
                  f"{ours / ref:.2f} |")

    def time_us(name):
        b = medians.get(name)
        if not b:
            return None
        scale = {"ns": 1e-3, "us": 1, "ms": 1e3, "s": 1e6}[b["time_unit"]]
        return b["real_time"] * scale

    raw = time_us("BM_Sign_RawModule")
    if raw:
        print("\n## Token: RSA-2048 signatures (SoftHSM2)\n")
        print("| road | µs per signature | signatures/s | rate / raw module |")
        print("|---|---:|---:|---:|")
        for label, name in [("raw C_SignInit + C_Sign", "BM_Sign_RawModule"),
                            ("Sign, control in-process", "BM_Sign_Control"),
                            ("SignByCertSerial, control in-process",
                             "BM_SignByCertSerial_Control")]:
            t = time_us(name)
            if t:
                print(f"| {label} | {t:,.0f} | {1e6 / t:,.0f} | {raw / t:.3f} |")

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

    crl = time_us("BM_VerifyCertCrl_InProcess/real_time")
    if crl is not None and time_us("BM_VerifyCertCrl_Host/framed:0/real_time"):
        print("\n## Host round trip\n")
        print("| call | in-process µs | --lines µs | frames µs | added by the host, µs (lines / frames) |")
        print("|---|---:|---:|---:|---:|")
        for label, stem in [("VerifyCertCRL (no token work)", "VerifyCertCrl"),
                            ("Sign, RSA-2048 on SoftHSM2", "Sign")]:
            inproc = time_us(f"BM_{stem}_InProcess/real_time")
            lines = time_us(f"BM_{stem}_Host/framed:0/real_time")
            frames = time_us(f"BM_{stem}_Host/framed:1/real_time")
            print(f"| {label} | {inproc:,.2f} | {lines:,.1f} | {frames:,.1f} | "
                  f"{lines - inproc:,.1f} / {frames - inproc:,.1f} |")

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
