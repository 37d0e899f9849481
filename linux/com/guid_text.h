#pragma once

#include <string>

#include <wtypes.h>

#include "common/registration_record.h"

namespace tarvona::linux_com {

// A GUID in the braced, upper-case form the registry keeps.
inline std::string GuidText(REFGUID guid) {
  identity::Guid plain{guid.Data1, guid.Data2, guid.Data3, {}};
  for (int i = 0; i < 8; ++i) plain.data4[i] = guid.Data4[i];
  return registration::GuidText(plain);
}

}  // namespace tarvona::linux_com
