#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/automation.h"

// What the host needs of a platform's COM: create a control by ProgID, find
// a method's DISPID, call it, release it. The request protocol (HostSession)
// is written against this alone, so the Linux host over the COM emulation
// and the Windows host over real COM answer pages alike.
namespace tarvona::host {

// A COM status word (HRESULT). The session makes a few of its own; any
// other failure a platform reports passes through to the page unchanged.
using Status = int32_t;
namespace status {
inline constexpr Status kOk = 0;
inline constexpr Status kFalse = 1;
inline constexpr Status kNotImplemented = static_cast<Status>(0x80004001u);
inline constexpr Status kFail = static_cast<Status>(0x80004005u);
inline constexpr Status kAccessDenied = static_cast<Status>(0x80070005u);
inline constexpr Status kHandle = static_cast<Status>(0x80070006u);
inline constexpr Status kOutOfMemory = static_cast<Status>(0x8007000Eu);
inline constexpr Status kInvalidArgument = static_cast<Status>(0x80070057u);
inline constexpr Status kMemberNotFound = static_cast<Status>(0x80020003u);
inline constexpr Status kTypeMismatch = static_cast<Status>(0x80020005u);
inline constexpr Status kUnknownName = static_cast<Status>(0x80020006u);
inline constexpr Status kOverflow = static_cast<Status>(0x8002000Au);
inline constexpr Status kBadParamCount = static_cast<Status>(0x8002000Eu);
inline constexpr Status kClassNotRegistered = static_cast<Status>(0x80040154u);
}  // namespace status

inline constexpr bool Failed(Status s) { return s < 0; }

// The symbolic name of a status ("DISP_E_TYPEMISMATCH"), or an empty view
// for one the platform does not name. One per platform.
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

  // Container services a platform's host may offer; by default it offers
  // none and says so.
  virtual Outcome Save(Properties* properties);
  virtual Outcome Load(const Properties& properties);
  virtual Outcome Reset();
  // The control's picture drawn at `width` x `height`, as a PNG file.
  virtual Outcome Draw(int32_t width, int32_t height, std::vector<uint8_t>* png);
  virtual Outcome Pages(std::vector<PropertyPageText>* pages);
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
