// tarvona-fill-store.exe: fills the current user's "MY" store (of a Wine
// prefix) with the test PKI, or shows the selection dialog on it.
//   tarvona-fill-store.exe [--reset] [--data FOLDER] [NAME[:nokey]...]
//     --reset   first empty the store and remove the key containers
//     --data    where NAME.cert.der and NAME.key.msblob are (default
//               ../testdata beside the program); a path from / is taken
//               on Wine's drive Z:
//     NAME      the entries (default: every test key pair, and serial2a
//               without its key); NAME:nokey adds the certificate alone
//   tarvona-fill-store.exe --choose [sign|decrypt|use]
//     shows the selection dialog and prints the chosen certificate's serial
//     number (hex, most significant byte first), or "none" (exit 1)
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "testing/wine-store/store_filler.h"
#include "windows/cryptoapi/cryptoapi_platform.h"

namespace {

using tarvona::testing::StoreEntry;

int Choose(std::string_view purpose) {
  tarvona::capi::Request request;
  if (purpose == "sign") request.purpose = tarvona::capi::Purpose::kSign;
  if (purpose == "decrypt") request.purpose = tarvona::capi::Purpose::kDecrypt;
  tarvona::capi::cryptoapi::CryptUiPicker picker;
  auto chosen = picker.ChooseFor(request);
  if (!chosen) {
    std::puts("none");
    return 1;
  }
  std::vector<uint8_t> serial = chosen->SerialNumber();
  for (auto byte = serial.rbegin(); byte != serial.rend(); ++byte) std::printf("%02X", *byte);
  std::puts("");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "--choose") {
    return Choose(arguments.size() > 1 ? arguments[1] : "use");
  }
  std::filesystem::path data = tarvona::testing::DefaultDataFolder();
  std::vector<StoreEntry> entries;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--reset") {
      if (!tarvona::testing::ResetStore()) {
        std::fputs("tarvona-fill-store: cannot reset the store\n", stderr);
        return 1;
      }
    } else if (arguments[i] == "--data" && i + 1 < arguments.size()) {
      // A Linux path, as the scripts have it: Wine's drive Z: is the root.
      const std::string folder(arguments[++i]);
      data = folder.starts_with('/') ? "Z:" + folder : folder;
    } else if (arguments[i].ends_with(":nokey")) {
      entries.push_back({std::string(arguments[i].substr(0, arguments[i].size() - 6)), false});
    } else {
      entries.push_back({std::string(arguments[i])});
    }
  }
  if (entries.empty()) entries = tarvona::testing::StandardStoreEntries();
  if (std::string failure = tarvona::testing::FillStore(data, entries); !failure.empty()) {
    std::fprintf(stderr, "tarvona-fill-store: %s\n", failure.c_str());
    return 1;
  }
  return 0;
}
