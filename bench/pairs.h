// A subject and its reference timed in alternation, so load that comes and
// goes on a shared machine falls on both alike. Each pair gives one rate
// ratio and one time difference; the figures reported are their medians
// with the quartiles as the spread, which a burst of load during some pairs
// does not move. Plain C++: the Windows benchmarks use it as the Linux ones
// do (through bench/paired.h).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
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

struct Spread {
  double median = 0, q1 = 0, q3 = 0;
};
inline Spread SpreadOf(const std::vector<double>& values) {
  if (values.empty()) return {};
  return {Quantile(values, 0.5), Quantile(values, 0.25), Quantile(values, 0.75)};
}

// What a series of pairs comes to. rate: reference time / subject time, so
// below 1 when the subject is slower; added_us: subject time - reference
// time; the same from CPU time (cpu_rate is empty when no subject took any
// CPU time the clock could see).
struct PairSummary {
  Spread rate, added_us, cpu_rate, cpu_added_us;
  bool has_cpu_rate = false;
  double subject_us = 0, reference_us = 0;  // medians
  size_t pairs = 0;
};

// The pairs of one measurement, subject first and reference first by
// turns, so neither side always runs on the other's warm caches.
//
// `cpu` returns the CPU seconds so far of every thread the pair's calls run
// on. A busy machine takes the CPU away in slices of milliseconds, so a long
// call loses more of its wall time than a short one, and a call handed to
// another process waits for a CPU at every hand-over: the wall-time figures
// carry that, as a user would see it; the CPU-time figures do not.
class PairSeries {
 public:
  // Times one pair; returns the wall seconds it took.
  template <typename Subject, typename Reference, typename Cpu>
  double Add(Subject& subject, Reference& reference, Cpu& cpu) {
    auto measure = [&](auto& run, std::vector<double>& times, std::vector<double>& cpu_times) {
      const double cpu_before = cpu();
      times.push_back(SecondsOf(run));
      cpu_times.push_back(cpu() - cpu_before);
    };
    if (subject_first_) {
      measure(subject, subject_s_, subject_cpu_s_);
      measure(reference, reference_s_, reference_cpu_s_);
    } else {
      measure(reference, reference_s_, reference_cpu_s_);
      measure(subject, subject_s_, subject_cpu_s_);
    }
    subject_first_ = !subject_first_;
    return subject_s_.back() + reference_s_.back();
  }

  PairSummary Summary() const {
    PairSummary out;
    out.pairs = subject_s_.size();
    if (out.pairs == 0) return out;
    std::vector<double> rate, added_us, cpu_rate, cpu_added_us;
    for (size_t i = 0; i < out.pairs; ++i) {
      rate.push_back(reference_s_[i] / subject_s_[i]);
      added_us.push_back((subject_s_[i] - reference_s_[i]) * 1e6);
      if (subject_cpu_s_[i] > 0) cpu_rate.push_back(reference_cpu_s_[i] / subject_cpu_s_[i]);
      cpu_added_us.push_back((subject_cpu_s_[i] - reference_cpu_s_[i]) * 1e6);
    }
    out.rate = SpreadOf(rate);
    out.added_us = SpreadOf(added_us);
    out.has_cpu_rate = !cpu_rate.empty();
    out.cpu_rate = SpreadOf(cpu_rate);
    out.cpu_added_us = SpreadOf(cpu_added_us);
    out.subject_us = Quantile(subject_s_, 0.5) * 1e6;
    out.reference_us = Quantile(reference_s_, 0.5) * 1e6;
    return out;
  }

 private:
  std::vector<double> subject_s_, reference_s_, subject_cpu_s_, reference_cpu_s_;
  bool subject_first_ = true;
};

}  // namespace tarvona::bench
