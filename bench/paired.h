// bench/pairs.h as Google Benchmark runs: one pair per benchmark iteration,
// the figures as the benchmark's counters.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <fstream>
#include <string>
#include <vector>

#include "bench/pairs.h"

namespace tarvona::bench {

// Median and quartiles as counters `name`, `name`_q1, `name`_q3.
inline void Counters(benchmark::State& state, const std::string& name, const Spread& spread) {
  state.counters[name] = spread.median;
  state.counters[name + "_q1"] = spread.q1;
  state.counters[name + "_q3"] = spread.q3;
}

// CPU seconds so far of the calling thread.
inline double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds so far of another process's main thread (its /proc schedstat
// file), 0 if unreadable. Exact while that thread is blocked.
inline double SchedstatCpuSeconds(const std::string& schedstat) {
  std::ifstream file(schedstat);
  unsigned long long on_cpu_ns = 0;
  file >> on_cpu_ns;
  return file ? static_cast<double>(on_cpu_ns) * 1e-9 : 0.0;
}

// One pair per benchmark iteration (bench/pairs.h). Register with
// UseManualTime() and Repetitions(1): the pairs are the repetitions.
// Counters: rate, added_us, subject_us, reference_us (medians), pairs; and
// the same from CPU time: cpu_rate, cpu_added_us. `cpu` returns the CPU
// seconds so far of every thread the pair's calls run on (by default the
// calling thread).
template <typename Subject, typename Reference, typename Cpu>
void RunPairs(benchmark::State& state, Subject subject, Reference reference, Cpu cpu) {
  PairSeries series;
  for (auto _ : state) state.SetIterationTime(series.Add(subject, reference, cpu));
  const PairSummary summary = series.Summary();
  if (summary.pairs == 0) return;
  Counters(state, "rate", summary.rate);
  Counters(state, "added_us", summary.added_us);
  if (summary.has_cpu_rate) Counters(state, "cpu_rate", summary.cpu_rate);
  Counters(state, "cpu_added_us", summary.cpu_added_us);
  state.counters["subject_us"] = summary.subject_us;
  state.counters["reference_us"] = summary.reference_us;
  state.counters["pairs"] = static_cast<double>(summary.pairs);
}

template <typename Subject, typename Reference>
void RunPairs(benchmark::State& state, Subject subject, Reference reference) {
  RunPairs(state, subject, reference, ThreadCpuSeconds);
}

}  // namespace tarvona::bench
