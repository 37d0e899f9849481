// A subject and its reference measured in alternation within one benchmark,
// so load that comes and goes on a shared machine falls on both alike. Each
// pair gives one rate ratio and one time difference; the figures reported
// are their medians with the quartiles as the spread, which a burst of load
// during some pairs does not move.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

namespace tarvona::bench {

template <typename Run>
double SecondsOf(Run& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Quantile q (0 to 1) by linear interpolation; `values` must not be empty.
inline double Quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  const double at = q * static_cast<double>(values.size() - 1);
  const auto low = static_cast<size_t>(at);
  const size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

// Median and quartiles of `values` as counters `name`, `name`_q1, `name`_q3.
inline void Spread(benchmark::State& state, const std::string& name,
                   const std::vector<double>& values) {
  state.counters[name] = Quantile(values, 0.5);
  state.counters[name + "_q1"] = Quantile(values, 0.25);
  state.counters[name + "_q3"] = Quantile(values, 0.75);
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

// One pair per benchmark iteration, subject first and reference first by
// turns, so neither side always runs on the other's warm caches. Register
// with UseManualTime() and Repetitions(1): the pairs are the repetitions.
// Counters: rate (reference time / subject time, so below 1 when the
// subject is slower), added_us (subject time - reference time), subject_us,
// reference_us (medians), pairs; and the same from CPU time: cpu_rate,
// cpu_added_us.
//
// `cpu` returns the CPU seconds so far of every thread the pair's calls run
// on (by default the calling thread). A busy machine takes the CPU away in
// slices of milliseconds, so a long call loses more of its wall time than a
// short one, and a call handed to another process waits for a CPU at every
// hand-over: the wall-time figures carry that, as a user would see it; the
// CPU-time figures do not.
template <typename Subject, typename Reference, typename Cpu>
void RunPairs(benchmark::State& state, Subject subject, Reference reference, Cpu cpu) {
  std::vector<double> subject_s, reference_s, subject_cpu_s, reference_cpu_s;
  bool subject_first = true;
  auto measure = [&](auto& run, std::vector<double>& times, std::vector<double>& cpu_times) {
    const double cpu_before = cpu();
    times.push_back(SecondsOf(run));
    cpu_times.push_back(cpu() - cpu_before);
  };
  for (auto _ : state) {
    if (subject_first) {
      measure(subject, subject_s, subject_cpu_s);
      measure(reference, reference_s, reference_cpu_s);
    } else {
      measure(reference, reference_s, reference_cpu_s);
      measure(subject, subject_s, subject_cpu_s);
    }
    subject_first = !subject_first;
    state.SetIterationTime(subject_s.back() + reference_s.back());
  }
  if (subject_s.empty()) return;
  std::vector<double> rate, added_us, cpu_rate, cpu_added_us;
  for (size_t i = 0; i < subject_s.size(); ++i) {
    rate.push_back(reference_s[i] / subject_s[i]);
    added_us.push_back((subject_s[i] - reference_s[i]) * 1e6);
    if (subject_cpu_s[i] > 0) cpu_rate.push_back(reference_cpu_s[i] / subject_cpu_s[i]);
    cpu_added_us.push_back((subject_cpu_s[i] - reference_cpu_s[i]) * 1e6);
  }
  Spread(state, "rate", rate);
  Spread(state, "added_us", added_us);
  if (!cpu_rate.empty()) Spread(state, "cpu_rate", cpu_rate);
  Spread(state, "cpu_added_us", cpu_added_us);
  state.counters["subject_us"] = Quantile(subject_s, 0.5) * 1e6;
  state.counters["reference_us"] = Quantile(reference_s, 0.5) * 1e6;
  state.counters["pairs"] = static_cast<double>(subject_s.size());
}

template <typename Subject, typename Reference>
void RunPairs(benchmark::State& state, Subject subject, Reference reference) {
  RunPairs(state, subject, reference, ThreadCpuSeconds);
}

}  // namespace tarvona::bench
