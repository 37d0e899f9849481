#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "host/control_host.h"
#include "host/origin_policy.h"

namespace tarvona::host {

// The host's side of the request protocol, independent of framing: one JSON
// request in, one JSON response out. Controls are created as the
// platform's COM host creates them (ControlHost) and reached only through
// their interfaces; destroying the session releases them all. A container
// service the control does not offer fails with the control's answer.
//   {"id":1,"create":"<ProgID>"}                      -> {"id":1,"object":1}
//   {"id":2,"object":1,"method":"Name","params":[..]} -> {"id":2,"result":..}
//   ("dispid":n may stand for "method")
//   {"id":3,"release":1}                              -> {"id":3,"released":1}
//   {"id":4,"save":1}                  -> {"id":4,"properties":{"_Version":65536,..}}
//   {"id":5,"load":{"object":1,"properties":{..}}}    -> {"id":5,"loaded":1}
//   {"id":6,"reset":1}                                -> {"id":6,"reset":1}
//   {"id":7,"object":1,"draw":{"width":W,"height":H}} -> {"id":7,"png":"<base64>"}
//   {"id":8,"pages":1}   -> {"id":8,"pages":[{"clsid":..,"caption":..,"text":[..]}]}
// Anything else gets {"id":..,"error":{"name":..,"message":..}}.
//
// With an origin policy (browsers), "create" also carries the page's
// "origin", and only origins the policy allows may create controls; the
// store methods refuse certificate source 4 (a local file path) with 1004,
// and follow the machine's policy for the store road and its dialog.
// Each control created for a page learns the origin it works for, and
// `hangup` (the host's input): its dialogs name the page and close as soon
// as the browser hangs up.
class HostSession {
 public:
  explicit HostSession(ControlHost& controls, OriginPolicy* origins = nullptr, int hangup = -1);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  nlohmann::ordered_json Handle(const nlohmann::ordered_json& request);
  // Parses one request text first; text that is not JSON gets an error.
  std::string HandleText(std::string_view request_text);

  size_t live_objects() const { return objects_.size(); }

 private:
  using Hosted = HostedControl;

  nlohmann::ordered_json Create(const nlohmann::ordered_json& request);
  nlohmann::ordered_json Release(const nlohmann::ordered_json& object);
  nlohmann::ordered_json Call(const nlohmann::ordered_json& request);
  nlohmann::ordered_json Save(const nlohmann::ordered_json& object);
  nlohmann::ordered_json Load(const nlohmann::ordered_json& load);
  nlohmann::ordered_json Reset(const nlohmann::ordered_json& object);
  nlohmann::ordered_json Draw(const nlohmann::ordered_json& request);
  nlohmann::ordered_json Pages(const nlohmann::ordered_json& object);
  // The hosted object named by `object`, or null.
  Hosted* Find(const nlohmann::ordered_json& object);

  ControlHost& controls_;
  OriginPolicy* origins_;
  int hangup_;
  std::map<int64_t, std::unique_ptr<Hosted>> objects_;
  int64_t next_object_ = 1;
};

// Serialises a response; bytes that are not UTF-8 (a token's serial number
// field may hold any bytes) become U+FFFD rather than failing.
std::string Serialize(const nlohmann::ordered_json& response);

}  // namespace tarvona::host
