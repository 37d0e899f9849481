#pragma once

#include <string>
#include <vector>

#include "token/cryptoki.h"

namespace tarvona {

// What a module shows of its slots and tokens without a session: labels,
// serial numbers, flags and mechanisms, nothing secret. Text fields have
// their blank padding trimmed.
struct TokenSurvey {
  std::string label;
  std::string manufacturer;
  std::string model;
  std::string serial;
  CK_FLAGS flags = 0;
};

struct MechanismSurvey {
  bool offered = false;  // in the slot's mechanism list
  CK_FLAGS flags = 0;    // from C_GetMechanismInfo; 0 when it says nothing
};

struct SlotSurvey {
  CK_SLOT_ID id = 0;
  std::string description;                 // empty when C_GetSlotInfo fails
  CK_RV token_rv = CKR_TOKEN_NOT_PRESENT;  // C_GetTokenInfo's; `token` holds with CKR_OK
  TokenSurvey token;
  CK_RV mechanisms_rv = CKR_OK;  // C_GetMechanismList's
  // Each mechanism of kUsedMechanisms, in its order.
  std::vector<MechanismSurvey> mechanisms;
};

struct ModuleSurvey {
  CK_RV info_rv = CKR_OK;  // C_GetInfo's answer
  std::string library;     // its description and manufacturer
  CK_VERSION library_version{};
  // Every slot the module lists, in its order.
  std::vector<SlotSurvey> slots;
  // The slots with a token present, in the order the control scans them.
  std::vector<CK_SLOT_ID> present;
};

}  // namespace tarvona
