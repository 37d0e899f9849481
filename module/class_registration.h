#pragma once

// The framework's registry routines behind the class objects' registration
// operations. Each returns true only when every step succeeded; a failure
// ends the routine and leaves what was written.

#include <cstdint>

#include "module/object_factory.h"

namespace tarvona::module {

// The ProgID key and the class key of a control, in the record's order:
//   <ProgID>                      @ = type name
//   <ProgID>\CLSID                @ = {CLSID}
//   CLSID\{CLSID}                 @ = type name
//   CLSID\{CLSID}\ProgID          @ = ProgID
//   CLSID\{CLSID}\InprocServer32  @ = module path
//   CLSID\{CLSID}\ToolboxBitmap32 @ = "<path>, <bitmap id>"
//   CLSID\{CLSID}\MiscStatus      @ = "0"
//   CLSID\{CLSID}\MiscStatus\1    @ = status bits, decimal
//   CLSID\{CLSID}\Control         @ = ""
//   CLSID\{CLSID}\TypeLib         @ = {LIBID}
//   CLSID\{CLSID}\Version         @ = "<major>.<minor>"
// then "ThreadingModel" = "Apartment" under InprocServer32 when asked. The
// type name is the string resource, or the CLSID's text when it is missing.
bool RegisterControlClass(const RegistrationContext& context, const CLSID& clsid,
                          const char* prog_id, uint32_t type_name_id, uint32_t bitmap_id,
                          bool apartment, uint32_t misc_status, const com::GUID& libid,
                          uint16_t major, uint16_t minor);

// A property page: the class key's type name and InprocServer32 only.
bool RegisterPropertyPageClass(const RegistrationContext& context, const CLSID& clsid,
                               uint32_t type_name_id, bool apartment);

// Removes a class. Where an "InprocServer" key (a 16-bit server) shares
// the class key, only InprocServer32 and ToolboxBitmap32 go; otherwise the
// class key and the ProgID key (when given) go with all their subkeys. A
// key already absent counts as removed.
bool UnregisterClass(const RegistrationContext& context, const CLSID& clsid, const char* prog_id);

}  // namespace tarvona::module
