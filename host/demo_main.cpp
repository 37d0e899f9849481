// tarvona-demo: walks the typical road of a page through tarvona-host and
// prints each call with its result.
//   tarvona-demo [--pin PIN] [--data TEXT]
// The host is the tarvona-host next to this program.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "encoding/hex.h"
#include "host/host_process.h"
#include "platform/own_path.h"

namespace {

using json = nlohmann::ordered_json;

class Road {
 public:
  explicit Road(const std::string& host) : host_(host, {"--lines"}) {}

  bool started() const { return host_.running(); }

  // Calls one method and prints it; a transport or automation error ends
  // the demo.
  json Call(const std::string& method, json params) {
    json request = {{"id", ++id_}, {"object", 1}, {"method", method}, {"params", params}};
    std::string shown = method + "(";
    for (size_t i = 0; i < params.size(); ++i) {
      // PINs are not for the screen.
      std::string param = method == "Login" && i > 0 ? "\"****\"" : params[i].dump();
      if (param.size() > 24) param = param.substr(0, 17) + "...\"";
      shown += (i ? ", " : "") + param;
    }
    shown += ")";
    auto reply = host_.Exchange(request.dump());
    if (!reply) Fail(shown + ": the host ended");
    json response = json::parse(*reply, nullptr, false);
    if (!response.is_object() || !response.contains("result")) Fail(shown + ": " + *reply);
    std::string result = response["result"].dump();
    if (result.size() > 72) result = result.substr(0, 69) + "...\"";
    std::printf("%-58s -> %s\n", shown.c_str(), result.c_str());
    return response["result"];
  }

  void Create() {
    auto reply = host_.Exchange(R"({"id":0,"create":"TARVONAACTIVEX.TarvonaActiveXCtrl.1"})");
    if (!reply || reply->find("\"object\"") == std::string::npos) {
      Fail("create: " + reply.value_or("the host ended"));
    }
    std::printf("%-58s -> %s\n", "create TARVONAACTIVEX.TarvonaActiveXCtrl.1", reply->c_str());
  }

  [[noreturn]] static void Fail(const std::string& why) {
    std::fprintf(stderr, "demo stopped: %s\n", why.c_str());
    std::exit(1);
  }

 private:
  tarvona::host::HostProcess host_;
  int id_ = 0;
};

std::string HexOf(const std::string& text) {
  return tarvona::HexEncode({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string pin = "1234";
  std::string text = "Pay 100 EUR to Bob";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--pin") == 0) pin = argv[i + 1];
    if (std::strcmp(argv[i], "--data") == 0) text = argv[i + 1];
  }
  Road road((tarvona::platform::OwnFolder() / "tarvona-host").string());
  if (!road.started()) Road::Fail("cannot start tarvona-host");

  road.Create();
  json handle = road.Call("ConnectToken", json::array());
  if (!handle.is_number_integer() || handle.get<int64_t>() < 0x10000) {
    Road::Fail("no token (1001: no module file, 1003: no token)");
  }
  road.Call("RetrieveSerial", {handle});
  road.Call("RetrieveAllTokenSerial", {handle});
  if (road.Call("Login", {handle, pin}) != 0) Road::Fail("login refused");
  json certificate = road.Call("EnumCertificate", {handle, 0});
  road.Call("GetAttribute", {handle, certificate, 2});
  std::string pem = road.Call("GetAttribute", {handle, certificate, 1});
  std::string serial = road.Call("GetAttribute", {handle, certificate, 3});
  std::string data = HexOf(text);
  road.Call("Hash", {handle, 0, data});
  std::string signature = road.Call("SignByCertSerial", {handle, serial, 0, data});
  if (signature.empty()) Road::Fail("signing failed");
  if (road.Call("VerifyByCertSerial", {handle, serial, 0, data, signature}) != 0) {
    Road::Fail("the signature did not verify");
  }
  road.Call("VerifyByCertSerial", {handle, serial, 0, HexOf(text + "!"), signature});
  road.Call("Logout", {handle});
  road.Call("DisconnectToken", {handle});

  // The store road: the same certificate from the user's certificate store,
  // found by serial number (source 1); no token connection needed.
  std::string store_signature = road.Call("SignByCSP", {0, 1, serial, 0, data});
  bool store_ok = !store_signature.empty() &&
                  road.Call("VerifyByCSP", {0, 1, serial, 0, data, store_signature}) == 0;

  std::printf("\nThe certificate read from the token:\n%s", pem.c_str());
  std::printf("Signed \"%s\" (SHA-1, PKCS #1 v1.5) with the token's key; the token\n"
              "verified it (0) and refused the changed text (1007).\n",
              text.c_str());
  std::printf(store_ok ? "The certificate store signed and verified the same text (0).\n"
                       : "The certificate store road did not work (no store certificate?).\n");
  return store_ok ? 0 : 1;
}
