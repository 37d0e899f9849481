#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <winerror.h>

#include "common/automation.h"

// What the host needs of COM: create a control by ProgID, find a method's
// DISPID, call it, release it. The request protocol (HostSession) is
// written against this alone; com_control_host.cpp gives it over COM on
// both systems.
namespace tarvona::host {

// A COM status word (HRESULT). The session makes a few of its own; any
// other failure a platform reports passes through to the page unchanged.
using Status = int32_t;
namespace status {
inline constexpr Status kOk = S_OK;
inline constexpr Status kFalse = S_FALSE;
inline constexpr Status kNotImplemented = E_NOTIMPL;
inline constexpr Status kFail = E_FAIL;
inline constexpr Status kAccessDenied = E_ACCESSDENIED;
inline constexpr Status kHandle = E_HANDLE;
inline constexpr Status kOutOfMemory = E_OUTOFMEMORY;
inline constexpr Status kInvalidArgument = E_INVALIDARG;
inline constexpr Status kMemberNotFound = DISP_E_MEMBERNOTFOUND;
inline constexpr Status kTypeMismatch = DISP_E_TYPEMISMATCH;
inline constexpr Status kUnknownName = DISP_E_UNKNOWNNAME;
inline constexpr Status kOverflow = DISP_E_OVERFLOW;
inline constexpr Status kBadParamCount = DISP_E_BADPARAMCOUNT;
inline constexpr Status kClassNotRegistered = REGDB_E_CLASSNOTREG;
}  // namespace status

inline constexpr bool Failed(Status s) { return s < 0; }

// The symbolic name of a status ("DISP_E_TYPEMISMATCH"), or an empty view
// for one the host does not name.
std::string_view StatusName(Status s);

// A method as the control's type information describes it.
struct MethodInfo {
  struct Param {
    std::string name;
    ValueType type;
  };
  std::string name;
  ValueType result = ValueType::kEmpty;
  std::vector<Param> params;
};

// A failure of a container service, with the message the page sees.
struct Outcome {
  Status status = status::kOk;
  std::string message;
};

struct PropertyPageText {
  std::string clsid;
  std::string caption;
  std::vector<std::string> text;
};

using Properties = std::vector<std::pair<std::string, Value>>;

// One created control; destroying it releases the control.
class HostedControl {
 public:
  virtual ~HostedControl() = default;

  // IDispatch::GetIDsOfNames for one name.
  virtual Status DispIdOf(const std::string& name, int32_t* dispid) = 0;
  // IDispatch::Invoke as a method call; `arg_error` is the index of the
  // argument that failed to convert, counted from the first.
  virtual Status Invoke(int32_t dispid, std::span<const Value> args, Value* result,
                        uint32_t* arg_error) = 0;
  // The method's description from the control's type information; nullopt
  // when the control gives none.
  virtual std::optional<MethodInfo> Describe(int32_t dispid) = 0;
  // `value` read as a 32-bit integer the way the control reads its
  // arguments (VariantChangeType); nullopt when it does not convert.
  virtual std::optional<int32_t> AsInt32(const Value& value) = 0;

  // Container services, over the control's persistence, view and
  // property-page interfaces; a control lacking one fails the request.
  virtual Outcome Save(Properties* properties) = 0;
  virtual Outcome Load(const Properties& properties) = 0;
  virtual Outcome Reset() = 0;
  // The control's picture drawn at `width` x `height`, as a PNG file.
  virtual Outcome Draw(int32_t width, int32_t height, std::vector<uint8_t>* png) = 0;
  virtual Outcome Pages(std::vector<PropertyPageText>* pages) = 0;
};

// Creates controls as the platform's COM runtime does.
class ControlHost {
 public:
  virtual ~ControlHost() = default;
  // The control registered under `prog_id`. A page's `origin` (nullptr
  // for local programs) and `hangup` (the host's input) are handed to
  // controls that take them, so their dialogs name the page and close
  // when the browser hangs up. On failure the message says why.
  virtual Outcome Create(const std::string& prog_id, const std::string* origin, int hangup,
                         std::unique_ptr<HostedControl>* control) = 0;
  // Lets go of modules no control uses any more (CoFreeUnusedLibraries).
  virtual void FreeUnused() {}
};

}  // namespace tarvona::host
