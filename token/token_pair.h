#pragma once

#include <cstdint>
#include <string>

#include "token/cryptoki_module.h"

namespace tarvona {

// The two generations of the token maker's module, side by side. The pair
// connects through the first module that shows a token and remembers which
// one holds the session.
class CTokenPair {
 public:
  static constexpr char kFirstModuleFile[] = "Tarvonav4.dll";
  static constexpr char kSecondModuleFile[] = "Tarvonav5.dll";

  // Loads both modules at once; one that fails is loaded again by the next
  // slot scan.
  explicit CTokenPair(const platform::LibraryLoader& loader = platform::SystemLibraryLoader());
  virtual ~CTokenPair();
  CTokenPair(const CTokenPair&) = delete;
  CTokenPair& operator=(const CTokenPair&) = delete;

  // 0, 1001, 1002 or 1003. Always tries the first module first.
  int32_t Connect();
  // 0 or 1002 from the active binding, 5001 when none is active.
  int32_t Disconnect();
  // The binding that holds the session, or null.
  CCryptokiModule* ActiveModule();
  // The serial numbers of both modules' tokens, first module first, joined
  // by ","; empty when no module shows a token. Sessions are left alone.
  std::string RetrieveAllTokenSerials();

  int32_t active_index() const { return active_index_; }

 private:
  CCryptokiModule first_;
  CCryptokiModule second_;
  int32_t active_index_ = -1;
};

}  // namespace tarvona
