#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "host/host_process.h"

namespace tarvona::testing {

// One `tarvona-host --lines` for a test, spoken to a request at a time, as
// a program that hosts the control does.
class HostLinesClient {
 public:
  using json = nlohmann::json;

  explicit HostLinesClient(const std::string& host_path) : host_(host_path, {"--lines"}) {}

  // Sends a request with the next id; the reply must answer that id.
  json Send(json request) {
    request["id"] = ++id_;
    auto reply = host_.Exchange(request.dump());
    EXPECT_TRUE(reply.has_value()) << request.dump();
    json response = json::parse(reply.value_or("{}"));
    EXPECT_EQ(response["id"], id_) << *reply;
    return response;
  }
  // A call of object 1 by name: the whole response (result or error).
  json Invoke(const std::string& method, json params, int object = 1) {
    return Send({{"object", object}, {"method", method}, {"params", std::move(params)}});
  }
  // A call that must succeed: its result.
  json Call(const std::string& method, json params) {
    json response = Invoke(method, std::move(params));
    EXPECT_TRUE(response.contains("result")) << method << ": " << response.dump();
    return response["result"];
  }
  // A string result, or the empty string for anything else.
  std::string Text(const std::string& method, json params) {
    json result = Call(method, std::move(params));
    return result.is_string() ? result.get<std::string>() : "";
  }
  // Ends the host at the end of its input: its exit status (waitpid form).
  int Finish() { return host_.Finish(); }

 private:
  host::HostProcess host_;
  int id_ = 0;
};

}  // namespace tarvona::testing
