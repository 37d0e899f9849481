#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tarvona {
class CTarvonaActiveXCtrl;
}

namespace tarvona::host {

// Creates a control by its ProgID, or null for a ProgID that names none.
class ControlFactory {
 public:
  virtual ~ControlFactory() = default;
  virtual std::unique_ptr<CTarvonaActiveXCtrl> Create(std::string_view prog_id) = 0;
};

// The host's side of the request protocol, independent of framing: one JSON
// request in, one JSON response out. It owns the controls that requests
// create; destroying the session destroys them all.
//   {"id":1,"create":"<ProgID>"}                      -> {"id":1,"object":1}
//   {"id":2,"object":1,"method":"Name","params":[..]} -> {"id":2,"result":..}
//   ("dispid":n may stand for "method")
//   {"id":3,"release":1}                              -> {"id":3,"released":1}
// Anything else gets {"id":..,"error":{"name":..,"message":..}}.
class HostSession {
 public:
  explicit HostSession(ControlFactory& factory);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  nlohmann::ordered_json Handle(const nlohmann::ordered_json& request);
  // Parses one request text first; text that is not JSON gets an error.
  std::string HandleText(std::string_view request_text);

  size_t live_objects() const { return controls_.size(); }

 private:
  nlohmann::ordered_json Create(const nlohmann::ordered_json& prog_id);
  nlohmann::ordered_json Release(const nlohmann::ordered_json& object);
  nlohmann::ordered_json Call(const nlohmann::ordered_json& request);

  ControlFactory& factory_;
  std::map<int64_t, std::unique_ptr<CTarvonaActiveXCtrl>> controls_;
  int64_t next_object_ = 1;
};

// Serialises a response; bytes that are not UTF-8 (a token's serial number
// field may hold any bytes) become U+FFFD rather than failing.
std::string Serialize(const nlohmann::ordered_json& response);

}  // namespace tarvona::host
