#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/faults/fault_control.h"
#include "testing/softhsm_tokens.h"
#include "testing/test_library_loader.h"

namespace tarvona::testing {

// A fresh SoftHSM folder, the fault build of the adaptor modules loaded by
// full path, and no fault or trace left over from an earlier test.
class TokenTest : public ::testing::Test {
 protected:
  TokenTest() : loader_(FaultModulesDir()) { tarvona_faults_reset(); }
  ~TokenTest() override {
    tarvona_faults_reset();
    unsetenv("TARVONAV4_TOKENS");
    unsetenv("TARVONAV5_TOKENS");
  }

  // Shows each generation only the tokens with these labels.
  static void ShowTokens(const std::string& v4_labels, const std::string& v5_labels) {
    setenv("TARVONAV4_TOKENS", v4_labels.c_str(), 1);
    setenv("TARVONAV5_TOKENS", v5_labels.c_str(), 1);
  }

  // Names of the traced calls, in order, of one generation (0: both).
  static std::vector<std::string> TracedCalls(int generation = 0) {
    std::vector<std::string> names;
    tarvona_trace_entry entry{};
    for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
      if (generation == 0 || entry.generation == generation) names.emplace_back(entry.function);
    }
    return names;
  }

  static std::vector<tarvona_trace_entry> TracedEntries(const std::string& function) {
    std::vector<tarvona_trace_entry> found;
    tarvona_trace_entry entry{};
    for (unsigned long i = 0; tarvona_trace_get(i, &entry) != 0; ++i) {
      if (function == entry.function) found.push_back(entry);
    }
    return found;
  }

  SoftHsmTokens tokens_;
  DirectoryLoader loader_;
};

}  // namespace tarvona::testing
