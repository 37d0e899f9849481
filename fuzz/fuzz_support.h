#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "capi/certificate_picker.h"

namespace tarvona::fuzzing {

// Source 0 must never open a dialog on the fuzzing machine's display.
class NoOne final : public capi::CertificatePicker {
 public:
  std::unique_ptr<capi::Certificate> Choose() override { return nullptr; }
};

// The store road opens NSS's database in a home of the fuzzer's own.
inline void UseOwnHome() {
  auto home = std::filesystem::temp_directory_path() / "tarvona-fuzz-home";
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
}

}  // namespace tarvona::fuzzing
