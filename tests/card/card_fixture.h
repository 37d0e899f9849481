#pragma once

// What the card tests share: the card as the rig gives it, the rig's
// control of the card and its reader, and tarvona-host on either road.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "host/host_process.h"
#include "tests/host/host_fixture.h"

namespace tarvona::testing {

inline std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

inline std::string ReadText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Runs `card-rig.sh control VERB`: the card pulled out or stopped, pcscd
// ended, and their way back. True once done.
inline bool Rig(const std::string& verb) {
  std::vector<std::string> argv = {Environment("TARVONA_CARD_RIG"), "control"};
  std::istringstream words(verb);
  for (std::string word; words >> word;) argv.push_back(word);
  Finished done = RunProgram(argv);
  EXPECT_EQ(done.status, 0) << verb << ": " << done.err;
  return done.status == 0;
}

// The rig's environment, checked: tests run inside card-rig.sh, on the
// control's default road (no variable names a module).
inline void ExpectInsideTheRig() {
  ASSERT_FALSE(Environment("TARVONA_CARD_PIN").empty())
      << "run inside testing/card/card-rig.sh (it gives the card's PIN)";
  for (const char* name : {"TARVONA_PKCS11_MODULE", "TARVONAV4_PKCS11_MODULE",
                           "TARVONAV5_PKCS11_MODULE", "TARVONAV4_TOKENS", "TARVONAV5_TOKENS"}) {
    ASSERT_EQ(std::getenv(name), nullptr) << name;
  }
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One tarvona-host, spoken to as a program does (--lines) or as a browser
// does (frames, for a page the allow-list names; the caller sets up the
// list). Replies that never come are null.
class CardHost {
 public:
  using json = nlohmann::json;
  enum class Road { kProgram, kBrowser };
  static constexpr char kPage[] = "http://localhost:8000";

  explicit CardHost(Road road = Road::kProgram)
      : road_(road),
        process_(TARVONA_HOST_PATH, road == Road::kBrowser
                                        ? std::vector<std::string>{"chrome-extension://x/"}
                                        : std::vector<std::string>{"--lines"}) {}

  // Sends a request with the next id, without waiting for its reply.
  bool Post(json request) {
    request["id"] = ++id_;
    return road_ == Road::kBrowser ? process_.SendFrame(request.dump())
                                   : process_.Send(request.dump());
  }
  // The next reply; it must answer the last request.
  json Answer() {
    auto reply = road_ == Road::kBrowser ? process_.ReceiveFrame() : process_.Receive();
    if (!reply) return nullptr;
    json response = json::parse(*reply, nullptr, false);
    EXPECT_EQ(response["id"], id_) << *reply;
    return response;
  }
  json Send(json request) { return Post(std::move(request)) ? Answer() : json(); }
  // Creates the control (object 1).
  bool Create() {
    json request = {{"create", "TARVONAACTIVEX.TarvonaActiveXCtrl.1"}};
    if (road_ == Road::kBrowser) request["origin"] = kPage;
    return Send(std::move(request)).value("object", 0) == 1;
  }
  json Request(const std::string& method, json params) {
    return {{"object", 1}, {"method", method}, {"params", std::move(params)}};
  }
  // A call's result, or null.
  json Call(const std::string& method, json params) {
    json response = Send(Request(method, std::move(params)));
    return response.is_object() && response.contains("result") ? response["result"] : json();
  }

  host::HostProcess& process() { return process_; }

 private:
  Road road_;
  host::HostProcess process_;
  int id_ = 0;
};

}  // namespace tarvona::testing
