// The card road when the card or its reader fails, as users' cards do: a
// card pulled out (even during a Sign) and put back, pcscd ended and started
// again, a card that stops answering, several hosts on one card at once.
// Runs inside testing/card/card-rig.sh, whose control pulls and stops the
// card and ends pcscd. Measured times are printed ("card faults: ...").
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "encoding/hex.h"
#include "testing/openssl_judge.h"
#include "tests/card/card_fixture.h"

namespace tarvona {
namespace {

using nlohmann::json;
using testing::CardHost;
using testing::Rig;
using testing::SecondsSince;
using Road = CardHost::Road;
using Clock = std::chrono::steady_clock;

// Far longer than the card or pcscd takes to come back on a loaded machine.
constexpr double kComesBackWithin = 30;
constexpr auto kEndsWithin = std::chrono::seconds(10);

// Seconds until `done` holds, asked every 50 ms up to kComesBackWithin; -1
// if it never does.
template <typename Done>
double SecondsUntil(Done done) {
  const auto start = Clock::now();
  while (!done()) {
    if (SecondsSince(start) > kComesBackWithin) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return SecondsSince(start);
}

// Whatever a case did, the next finds pcscd running and the card in and
// answering.
struct RigRestored {
  ~RigRestored() { Rig("restore"); }
};

class CardFaultTest : public testing::RegisteredModuleTest {
 protected:
  void SetUp() override {
    testing::ExpectInsideTheRig();
    if (HasFatalFailure()) return;
    ASSERT_FALSE(certificate_pem_.empty()) << testing::Environment("TARVONA_CARD_CERT");
    // The browser road's page is on the allow-list; without a display no
    // dialog is shown.
    std::filesystem::create_directories(data_home_ + "/config/tarvona");
    std::ofstream(data_home_ + "/config/tarvona/allowed-origins") << CardHost::kPage << "\n";
    setenv("XDG_CONFIG_HOME", (data_home_ + "/config").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

  // ConnectToken until it gives a session (the card seen): the seconds that
  // took, or -1.
  static double Connects(CardHost& host, json* session) {
    return SecondsUntil([&] {
      *session = host.Call("ConnectToken", json::array());
      return session->is_number_integer() && *session >= 0x10000;
    });
  }

  // A SHA-1 signature of `hex` by the card's key, judged by OpenSSL
  // against the card's certificate.
  ::testing::AssertionResult Signs(CardHost& host, const json& session, const json& key,
                                   const std::string& hex) {
    json signature = host.Call("Sign", {session, key, 0, hex});
    if (!signature.is_string() || signature.get<std::string>().size() != 512) {
      return ::testing::AssertionFailure() << "Sign gave " << signature;
    }
    if (!testing::VerifiesWith(certificate_pem_, testing::Digest::kSha1, HexDecode(hex),
                               HexDecode(signature.get<std::string>()))) {
      return ::testing::AssertionFailure() << "the signature does not verify: " << signature;
    }
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult LogsInAndSigns(CardHost& host, const json& session) {
    if (json login = host.Call("Login", {session, pin_}); login != 0) {
      return ::testing::AssertionFailure() << "Login gave " << login;
    }
    return Signs(host, session, host.Call("EnumPrivateKey", {session, 0}), kData);
  }

  static constexpr char kData[] = "5061792031303020455552";  // "Pay 100 EUR"
  const std::string pin_ = testing::Environment("TARVONA_CARD_PIN");
  const std::string certificate_pem_ = testing::ReadText(testing::Environment("TARVONA_CARD_CERT"));
};

// The card or its reader goes away, and comes back: calls fail at once
// with their codes, and the same control, holding the same handle,
// connects again, logs in and signs. A card or pcscd that only comes after
// the control was made is found the same way.
TEST_F(CardFaultTest, TheSameControlComesBackAfterTheCardOrPcscdGoes) {
  struct Loss {
    const char* name;
    const char* lose;                  // the rig's control verb
    std::vector<const char*> restore;  // its verbs to come back
    bool during_sign;                  // while a Sign waits for a card that stopped answering
    bool before_create;                // gone before the control is made
  };
  const Loss losses[] = {
      {"card pulled out", "card-out", {"card-in"}, false, false},
      {"card pulled out during a Sign", "card-out", {"card-in"}, true, false},
      {"pcscd ended", "pcscd-stop TERM", {"pcscd-start"}, false, false},
      {"pcscd killed", "pcscd-stop KILL", {"pcscd-start"}, false, false},
      {"pcscd killed during a Sign", "pcscd-stop KILL", {"pcscd-start", "card-cont"}, true, false},
      {"card put in after the control was made", "card-out", {"card-in"}, false, true},
      {"pcscd started after the control was made", "pcscd-stop TERM", {"pcscd-start"}, false, true},
  };
  for (const Loss& loss : losses) {
    SCOPED_TRACE(loss.name);
    std::optional<CardHost> host;
    RigRestored restored;
    json session;
    if (loss.before_create) {
      ASSERT_TRUE(Rig(loss.lose));
      host.emplace();
      ASSERT_TRUE(host->Create());
      EXPECT_EQ(host->Call("ConnectToken", json::array()), 1003);
    } else {
      host.emplace();
      ASSERT_TRUE(host->Create());
      ASSERT_GE(Connects(*host, &session), 0) << "the card is not seen";
      ASSERT_TRUE(LogsInAndSigns(*host, session));
      const json key = host->Call("EnumPrivateKey", {session, 0});
      const json sign = host->Request("Sign", {session, key, 0, kData});

      // The loss, and the Sign's answer: timed from the call, or for a Sign
      // already waiting, from the start of the loss (the rig's own few ms).
      Clock::time_point asked;
      json signed_after;
      if (loss.during_sign) {
        ASSERT_TRUE(Rig("card-stop"));
        ASSERT_TRUE(host->Post(sign));
        EXPECT_FALSE(host->process().Replied(std::chrono::milliseconds(500)))
            << "the Sign did not wait for the stopped card";
        asked = Clock::now();
        ASSERT_TRUE(Rig(loss.lose));
        signed_after = host->Answer();
      } else {
        ASSERT_TRUE(Rig(loss.lose));
        asked = Clock::now();
        signed_after = host->Send(sign);
      }
      const double sign_failed = SecondsSince(asked);
      EXPECT_EQ(signed_after.value("result", json()), "");
      // RetrieveSerial asks the token: it may still be listed until pcscd
      // has seen the reader empty.
      const double gone =
          SecondsUntil([&] { return host->Call("RetrieveSerial", {session}) == "1003"; });
      EXPECT_GE(gone, 0) << "the token is still there";
      const auto connect = Clock::now();
      EXPECT_EQ(host->Call("ConnectToken", json::array()), 1003);
      std::cout << "card faults: " << loss.name << ": Sign \"\" in " << sign_failed * 1000
                << " ms, RetrieveSerial \"1003\" after " << gone * 1000
                << " ms, ConnectToken 1003 in " << SecondsSince(connect) * 1000 << " ms\n";
    }

    for (const char* verb : loss.restore) ASSERT_TRUE(Rig(verb));
    json again;
    const double back = Connects(*host, &again);
    ASSERT_GE(back, 0) << "the control does not see the card again";
    if (!loss.before_create) {
      EXPECT_EQ(again, session) << "not the same handle";
    }
    EXPECT_TRUE(LogsInAndSigns(*host, again));
    std::cout << "card faults: " << loss.name << ": the control connected again " << back
              << " s after the card or pcscd came back\n";
    EXPECT_EQ(host->process().Finish(), 0);
  }
}

// A card that stops answering holds the call that reached it, and the
// reader's lock, for as long as it is silent: nothing below the control
// times out. A host started by a browser ends as soon as the browser hangs
// up (the tab closed), which frees the reader; a program's host answers
// every request it was given, once the card answers again. Either way a
// new host then signs.
TEST_F(CardFaultTest, AHangingCardKeepsNoHostWhoseBrowserHasGone) {
  for (Road road : {Road::kBrowser, Road::kProgram}) {
    SCOPED_TRACE(road == Road::kBrowser ? "browser" : "program");
    std::optional<CardHost> host;
    RigRestored restored;
    host.emplace(road);
    ASSERT_TRUE(host->Create());
    json session;
    ASSERT_GE(Connects(*host, &session), 0) << "the card is not seen";
    ASSERT_EQ(host->Call("Login", {session, pin_}), 0);
    const json key = host->Call("EnumPrivateKey", {session, 0});

    ASSERT_TRUE(Rig("card-stop"));
    ASSERT_TRUE(host->Post(host->Request("Sign", {session, key, 0, kData})));
    EXPECT_FALSE(host->process().Replied(std::chrono::seconds(1)))
        << "the Sign did not wait for the stopped card";
    const auto hung_up = Clock::now();
    host->process().CloseInput();
    if (road == Road::kBrowser) {
      const int status = host->process().Finish(kEndsWithin);  // killed if still there
      const double ended = SecondsSince(hung_up);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "the host did not end when its browser hung up: " << status;
      EXPECT_TRUE(host->Answer().is_null());
      std::cout << "card faults: a browser's host ended " << ended * 1000
                << " ms after the browser hung up during a hanging Sign\n";
      ASSERT_TRUE(Rig("card-cont"));
    } else {
      ASSERT_TRUE(Rig("card-cont"));
      json answer = host->Answer();
      const json signature = answer.value("result", json());
      EXPECT_TRUE(signature.is_string() &&
                  testing::VerifiesWith(certificate_pem_, testing::Digest::kSha1, HexDecode(kData),
                                        HexDecode(signature.get<std::string>())))
          << answer;
      EXPECT_EQ(host->process().Finish(kEndsWithin), 0);
    }

    CardHost next;
    ASSERT_TRUE(next.Create());
    json next_session;
    const double connected = Connects(next, &next_session);
    ASSERT_GE(connected, 0) << "the next host does not see the card";
    EXPECT_TRUE(LogsInAndSigns(next, next_session));
    std::cout << "card faults: after the card answered again, a new host connected in " << connected
              << " s\n";
  }
}

// Hosts that sign at once on one card take turns at its reader: every
// signature of each is good.
TEST_F(CardFaultTest, HostsSigningAtOnceOnOneCardAllSignWell) {
  constexpr int kSignatures = 50;
  for (int hosts : {2, 4}) {
    SCOPED_TRACE(std::to_string(hosts) + " hosts");
    std::vector<int> good(static_cast<size_t>(hosts), 0);
    const auto start = Clock::now();
    {
      std::vector<std::jthread> signers;
      for (int i = 0; i < hosts; ++i) {
        signers.emplace_back([&, i] {
          CardHost host;
          json session;
          if (!host.Create() || Connects(host, &session) < 0 ||
              host.Call("Login", {session, pin_}) != 0) {
            ADD_FAILURE() << "host " << i << " cannot log in to the card";
            return;
          }
          const json key = host.Call("EnumPrivateKey", {session, 0});
          for (int j = 0; j < kSignatures; ++j) {
            const std::string text =
                "host " + std::to_string(i) + ", signature " + std::to_string(j);
            const bool signs = Signs(host, session, key, HexEncode(testing::Bytes(text)));
            EXPECT_TRUE(signs) << text;
            good[static_cast<size_t>(i)] += signs ? 1 : 0;
          }
          EXPECT_EQ(host.process().Finish(), 0);
        });
      }
    }
    int all = 0;
    for (int count : good) all += count;
    EXPECT_EQ(all, hosts * kSignatures);
    std::cout << "card faults: " << hosts << " hosts signed " << all << " times at once in "
              << SecondsSince(start) << " s\n";
  }
}

}  // namespace
}  // namespace tarvona
