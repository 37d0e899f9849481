#include "token/token_pair.h"

#include "common/result_code.h"

namespace tarvona {

CTokenPair::CTokenPair(const platform::LibraryLoader& loader) : first_(loader), second_(loader) {
  first_.Load(kFirstModuleFile);
  second_.Load(kSecondModuleFile);
}

CTokenPair::~CTokenPair() {
  first_.Unload();
  second_.Unload();
}

int32_t CTokenPair::Connect() {
  int32_t first = first_.Connect();
  if (first == kOk) {
    active_index_ = 0;
    return kOk;
  }
  int32_t second = second_.Connect();
  if (second == kOk) {
    active_index_ = 1;
    return kOk;
  }
  if (first == kNoToken || second == kNoToken) return kNoToken;
  return second;
}

int32_t CTokenPair::Disconnect() {
  CCryptokiModule* active = ActiveModule();
  if (active == nullptr) return kNotConnected;
  active_index_ = -1;
  return active->Disconnect();
}

CCryptokiModule* CTokenPair::ActiveModule() {
  switch (active_index_) {
    case 0:
      return &first_;
    case 1:
      return &second_;
    default:
      return nullptr;
  }
}

std::string CTokenPair::RetrieveAllTokenSerials() {
  std::string first;
  std::string second;
  if (first_.RetrieveAllSerials(first) != kOk) first.clear();
  if (second_.RetrieveAllSerials(second) != kOk) second.clear();
  if (first.empty()) return second;
  if (!second.empty()) first += ',' + second;
  return first;
}

}  // namespace tarvona
