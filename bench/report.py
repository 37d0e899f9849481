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
        with open(os.path.join(folder, name)) as f:
            data = json.load(f)
        context = context or data["context"]
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            key = b["run_name"]
            medians[key] = b
            counters[key] = {k: v for k, v in b.items() if k == "C_FindObjects"}
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
    folder, command = sys.argv[1], sys.argv[2]
    medians, counters, context = load(folder)
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip() or "unknown"
    dirty = subprocess.run(["git", "status", "--porcelain"], capture_output=True,
                           text=True).stdout.strip()
    print(f"# Benchmarks, {datetime.date.today().isoformat()}\n")
    print(f"- Machine: {cpu_model()}, {context['num_cpus']} CPUs, "
          f"{platform.system()} {platform.release()}")
    print(f"- Commit: {commit}{' (with local changes)' if dirty else ''}")
    print(f"- Command: `{command}` (medians of {context.get('repetitions', '?')} or more "
          f"repetitions)\n")

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


if __name__ == "__main__":
    main()
