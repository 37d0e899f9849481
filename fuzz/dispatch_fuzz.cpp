// Method dispatch with random names, DISPIDs and arguments against a control
// whose token modules are absent: every call must end in a result or an
// automation error, never a fault.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "capi/certificate_picker.h"
#include "control/method_table.h"
#include "control/tarvona_control.h"

namespace {

class NoModules final : public tarvona::platform::LibraryLoader {
 public:
  std::unique_ptr<tarvona::platform::DynamicLibrary> Load(const std::string&) const override {
    return nullptr;
  }
};

// Source 0 must never open a dialog on the fuzzing machine's display.
class NoOne final : public tarvona::capi::CertificatePicker {
 public:
  std::optional<size_t> Pick(std::span<const tarvona::capi::CertificateSummary>) override {
    return std::nullopt;
  }
};

tarvona::platform::Variant NextArgument(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return input.ConsumeIntegral<int16_t>();
    case 1:
      return input.ConsumeIntegral<int32_t>();
    case 2:
      return input.ConsumeIntegral<int64_t>();
    case 3:
      return input.ConsumeRandomLengthString(256);
    default:
      return std::monostate{};
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The store methods open NSS's database in a home of the fuzzer's own.
  auto home = std::filesystem::temp_directory_path() / "tarvona-fuzz-home";
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NoModules loader;
  static NoOne picker;
  static tarvona::CTarvonaActiveXCtrl control(loader, picker);
  FuzzedDataProvider input(data, size);
  int32_t dispid = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 27)
                                       : input.ConsumeIntegral<int32_t>();
  if (input.ConsumeBool()) {
    const auto* method = tarvona::FindMethod(input.ConsumeRandomLengthString(32));
    if (method != nullptr) dispid = method->dispid;
  }
  std::vector<tarvona::platform::Variant> args;
  for (int i = input.ConsumeIntegralInRange(0, 7); i > 0; --i) args.push_back(NextArgument(input));
  tarvona::platform::Variant result;
  uint32_t arg_error = 0;
  tarvona::Invoke(control, dispid, args, result, &arg_error);
  return 0;
}
