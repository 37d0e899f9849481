// A subject and its reference measured in alternation within one benchmark,
// so load that comes and goes on a shared machine falls on both alike. Each
// pair gives one rate ratio and one time difference; the figures reported
// are their medians with the quartiles as the spread, which a burst of load
// during some pairs does not move.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
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

// One pair per benchmark iteration, subject first and reference first by
// turns, so neither side always runs on the other's warm caches. Register
// with UseManualTime() and Repetitions(1): the pairs are the repetitions.
// Counters: rate (reference time / subject time, so below 1 when the
// subject is slower), added_us (subject time - reference time), subject_us,
// reference_us (medians), pairs.
template <typename Subject, typename Reference>
void RunPairs(benchmark::State& state, Subject subject, Reference reference) {
  std::vector<double> subject_s, reference_s;
  bool subject_first = true;
  for (auto _ : state) {
    double s = 0, r = 0;
    if (subject_first) {
      s = SecondsOf(subject);
      r = SecondsOf(reference);
    } else {
      r = SecondsOf(reference);
      s = SecondsOf(subject);
    }
    subject_first = !subject_first;
    subject_s.push_back(s);
    reference_s.push_back(r);
    state.SetIterationTime(s + r);
  }
  if (subject_s.empty()) return;
  std::vector<double> rate, added_us;
  for (size_t i = 0; i < subject_s.size(); ++i) {
    rate.push_back(reference_s[i] / subject_s[i]);
    added_us.push_back((subject_s[i] - reference_s[i]) * 1e6);
  }
  Spread(state, "rate", rate);
  Spread(state, "added_us", added_us);
  state.counters["subject_us"] = Quantile(subject_s, 0.5) * 1e6;
  state.counters["reference_us"] = Quantile(reference_s, 0.5) * 1e6;
  state.counters["pairs"] = static_cast<double>(subject_s.size());
}

}  // namespace tarvona::bench
