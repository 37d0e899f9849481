#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "com/hresult.h"
#include "com/variant.h"

namespace tarvona {

class CTarvonaActiveXCtrl;

struct ParamInfo {
  std::string_view name;
  com::VarType type;  // kI4 (long), kI2 (short) or kBstr (string)
};

// One method of the dispatch interface.
struct MethodInfo {
  int32_t dispid;
  std::string_view name;
  com::VarType result;  // kI4 or kBstr
  std::span<const ParamInfo> params;
  // Converts the arguments, calls the member and stores its result. On a
  // conversion failure returns the automation error and sets *arg_error to
  // the position of the offending argument.
  com::HRESULT (*invoke)(CTarvonaActiveXCtrl& control,
                              std::span<const com::Variant> args,
                              com::Variant& result, uint32_t* arg_error);
};

// All 26 methods, in DISPID order (1 to 26).
std::span<const MethodInfo> MethodTable();

// Lookup by name, case-insensitively as script engines match names, and by
// DISPID. Null when there is no such method.
const MethodInfo* FindMethod(std::string_view name);
const MethodInfo* FindMethod(int32_t dispid);

// The whole call: argument count and types are checked against the table
// (DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW); an unknown
// DISPID is DISP_E_MEMBERNOTFOUND. Integers convert to a string parameter
// as decimal text and decimal text converts to an integer parameter, as the
// automation layer of script hosts does. A string argument reaches the
// method up to its first NUL. Never throws.
com::HRESULT Invoke(CTarvonaActiveXCtrl& control, int32_t dispid,
                         std::span<const com::Variant> args, com::Variant& result,
                         uint32_t* arg_error = nullptr);

}  // namespace tarvona
