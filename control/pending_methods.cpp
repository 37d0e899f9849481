// The certificate store methods until the store road is built: each answers
// with its failure form.
#include "common/result_code.h"
#include "control/tarvona_control.h"

namespace tarvona {

std::string CTarvonaActiveXCtrl::SignByCSP(int32_t, int32_t, std::string_view, int32_t,
                                           std::string_view) {
  return {};
}
int32_t CTarvonaActiveXCtrl::VerifyByCSP(int32_t, int32_t, std::string_view, int32_t,
                                         std::string_view, std::string_view) {
  return kStoreUnavailable;
}
std::string CTarvonaActiveXCtrl::EncryptByCSP(int32_t, int32_t, std::string_view, int32_t,
                                              std::string_view) {
  return {};
}
std::string CTarvonaActiveXCtrl::DecryptByCSP(int32_t, int32_t, std::string_view, int32_t,
                                              std::string_view) {
  return {};
}

}  // namespace tarvona
