// Method dispatch with random names, DISPIDs and arguments against a control
// whose token modules are absent: every call must end in a result or an
// automation error, never a fault.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "capi/nss/nss_platform.h"
#include "testing/automation_arguments.h"
#include "control/method_table.h"
#include "control/tarvona_control.h"
#include "fuzz/fuzz_support.h"

namespace {

class NoModules final : public tarvona::platform::LibraryLoader {
 public:
  std::unique_ptr<tarvona::platform::DynamicLibrary> Load(const std::string&) const override {
    return nullptr;
  }
};

tarvona::Value NextArgument(FuzzedDataProvider& input) {
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
  tarvona::fuzzing::UseOwnHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NoModules loader;
  static tarvona::fuzzing::NoOne picker;
  static tarvona::CTarvonaActiveXCtrl control(loader, tarvona::capi::nss::UserCryptoPlatform(),
                                              picker);
  FuzzedDataProvider input(data, size);
  int32_t dispid = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 27)
                                       : input.ConsumeIntegral<int32_t>();
  if (input.ConsumeBool()) {
    const auto* method = tarvona::FindMethod(input.ConsumeRandomLengthString(32));
    if (method != nullptr) dispid = method->dispid;
  }
  std::vector<tarvona::Value> args;
  for (int i = input.ConsumeIntegralInRange(0, 7); i > 0; --i) args.push_back(NextArgument(input));
  tarvona::Value result;
  uint32_t arg_error = 0;
  tarvona::Invoke(control, dispid, args, result, tarvona::testing::ConvertArgument, &arg_error);
  return 0;
}
