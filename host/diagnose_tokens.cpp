// The token modules as the control finds them: where Tarvonav4.dll and
// Tarvonav5.dll are, whether they load, what they reach, and per slot its
// token (label, serial number, flags) and the mechanisms the control uses.
// Read through the control's own binding, without a session or a login.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result_code.h"
#include "host/diagnose.h"
#include "host/diagnose_platform.h"
#include "token/cryptoki_module.h"
#include "token/mechanisms.h"
#include "token/token_survey.h"

namespace tarvona::host::diagnose {
namespace {

using json = nlohmann::ordered_json;

constexpr std::array<const char*, 2> kModules = {"Tarvonav4.dll", "Tarvonav5.dll"};
// With more present tokens than the control's slot scan reads, the scan
// fails and it connects to none.
constexpr size_t kMostPresent = CCryptokiModule::kMostPresentTokens;

std::string Hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

// The answers a module gives here, by name.
std::string RvName(CK_RV rv) {
  struct Named {
    CK_RV rv;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {CKR_OK, "CKR_OK"},
      {CKR_HOST_MEMORY, "CKR_HOST_MEMORY"},
      {CKR_SLOT_ID_INVALID, "CKR_SLOT_ID_INVALID"},
      {CKR_GENERAL_ERROR, "CKR_GENERAL_ERROR"},
      {CKR_FUNCTION_FAILED, "CKR_FUNCTION_FAILED"},
      {CKR_ARGUMENTS_BAD, "CKR_ARGUMENTS_BAD"},
      {CKR_DEVICE_ERROR, "CKR_DEVICE_ERROR"},
      {CKR_DEVICE_MEMORY, "CKR_DEVICE_MEMORY"},
      {CKR_DEVICE_REMOVED, "CKR_DEVICE_REMOVED"},
      {CKR_FUNCTION_NOT_SUPPORTED, "CKR_FUNCTION_NOT_SUPPORTED"},
      {CKR_TOKEN_NOT_PRESENT, "CKR_TOKEN_NOT_PRESENT"},
      {CKR_TOKEN_NOT_RECOGNIZED, "CKR_TOKEN_NOT_RECOGNIZED"},
      {CKR_BUFFER_TOO_SMALL, "CKR_BUFFER_TOO_SMALL"},
      {CKR_CRYPTOKI_NOT_INITIALIZED, "CKR_CRYPTOKI_NOT_INITIALIZED"},
  };
  for (const Named& named : kNames) {
    if (named.rv == rv) return named.name;
  }
  return "CK_RV " + Hex(rv);
}

// The token's flags that matter to the control, in words; nothing about
// what the PIN is.
struct FlagWord {
  CK_FLAGS flag;
  bool when_set;
  const char* word;
};
constexpr FlagWord kFlagWords[] = {
    {CKF_TOKEN_INITIALIZED, false, "not initialised"},
    {CKF_LOGIN_REQUIRED, true, "login required"},
    {CKF_PROTECTED_AUTHENTICATION_PATH, true, "PIN pad"},
    {CKF_WRITE_PROTECTED, true, "write-protected"},
    {CKF_USER_PIN_INITIALIZED, false, "no user PIN set"},
    {CKF_USER_PIN_LOCKED, true, "user PIN locked"},
    {CKF_USER_PIN_FINAL_TRY, true, "user PIN: one try left"},
    {CKF_USER_PIN_COUNT_LOW, true, "user PIN: a wrong PIN was entered"},
    {CKF_USER_PIN_TO_BE_CHANGED, true, "user PIN to be changed"},
    {CKF_SO_PIN_LOCKED, true, "SO PIN locked"},
};

std::vector<std::string> FlagWords(CK_FLAGS flags) {
  std::vector<std::string> words;
  for (const FlagWord& word : kFlagWords) {
    if (((flags & word.flag) != 0) == word.when_set) words.emplace_back(word.word);
  }
  return words;
}

// Where the control finds `file`: the first of its folders holding it.
struct Found {
  std::filesystem::path path;
  std::string where;
};
std::optional<Found> Locate(const std::string& file, const std::vector<ModuleFolder>& folders) {
  for (const ModuleFolder& folder : folders) {
    std::error_code error;
    if (folder.folder.empty()) continue;
    if (std::filesystem::is_regular_file(folder.folder / file, error)) {
      return Found{folder.folder / file, folder.name};
    }
  }
  return std::nullopt;
}

// What the PIN state means for the control, as findings on the token.
void CheckPinState(Section& section, const std::string& subject, const std::string& token,
                   CK_FLAGS flags) {
  if ((flags & CKF_USER_PIN_LOCKED) != 0) {
    section.Problem(
        "token-pin", subject,
        "token " + token + ": the user PIN is locked; Login fails until it is unblocked",
        "unblock it with the SO PIN (UnblockUserPin, or the token maker's tool), or "
        "have the token initialised afresh (TokenInitialize, which erases it)");
  } else if ((flags & CKF_USER_PIN_FINAL_TRY) != 0) {
    section.Note("token-pin", subject,
                 "token " + token + ": one PIN try is left; a wrong PIN locks the user PIN",
                 "make sure of the PIN before the next login");
  } else if ((flags & CKF_USER_PIN_COUNT_LOW) != 0) {
    section.Note("token-pin", subject,
                 "token " + token + ": a wrong PIN was entered since the last good login",
                 "make sure of the PIN: a few more wrong ones lock it");
  }
  if ((flags & CKF_USER_PIN_INITIALIZED) == 0) {
    section.Note("token-pin", subject, "token " + token + " has no user PIN: Login fails",
                 "set one with the SO PIN (UnblockUserPin), or initialise the token "
                 "(TokenInitialize)");
  } else if ((flags & CKF_USER_PIN_TO_BE_CHANGED) != 0) {
    section.Note("token-pin", subject, "token " + token + ": the user PIN must be changed",
                 "change it (ChangeUserPin) before signing");
  }
}

void CheckMechanisms(Section& section, const std::string& subject, const std::string& token,
                     const SlotSurvey& slot) {
  if (slot.mechanisms_rv != CKR_OK) {
    section.Note("token-mechanism", subject,
                 "token " + token + " does not list its mechanisms (" + RvName(slot.mechanisms_rv) +
                     "): whether it signs cannot be told",
                 "try a signature (SignByCertSerial); if it fails, ask the token maker which "
                 "mechanisms the token offers");
    return;
  }
  std::vector<std::string> missing_typical;
  std::vector<std::string> missing;
  for (size_t i = 0; i < slot.mechanisms.size(); ++i) {
    const MechanismSurvey& offer = slot.mechanisms[i];
    const UsedMechanism& used = kUsedMechanisms[i];
    std::string what = std::string(used.name) + " (" + std::string(used.use) + ")";
    if (!offer.offered) {
      (used.typical ? missing_typical : missing).push_back(std::move(what));
    } else if (offer.flags != 0 && (offer.flags & used.needs) != used.needs) {
      // Listed, but its flags leave out some of what the control does with it.
      missing.push_back(std::string(used.name) + " only in part (" + std::string(used.use) + ")");
    }
  }
  if (!missing_typical.empty()) {
    section.Problem("token-mechanism", subject,
                    "token " + token + " does not offer " + Joined(missing_typical),
                    "use a token whose keys sign with RSA PKCS #1 v1.5; ask the token maker");
  }
  if (!missing.empty()) {
    section.Note("token-mechanism", subject,
                 "token " + token + " does not offer " + Joined(missing),
                 "those calls fail on this token; the others work");
  }
}

json MechanismFacts(const SlotSurvey& slot) {
  json facts = json::object();
  for (size_t i = 0; i < slot.mechanisms.size(); ++i) {
    facts[std::string(kUsedMechanisms[i].name)] = slot.mechanisms[i].offered;
  }
  return facts;
}

// One slot of a module's survey; true when it shows a token the control
// can connect to.
bool CheckSlot(Section& section, const std::string& module, const SlotSurvey& slot, bool present) {
  const std::string name =
      "slot " + Hex(slot.id) + (slot.description.empty() ? "" : " " + Quoted(slot.description));
  if (slot.token_rv != CKR_OK) {
    if (present) {
      section.Note("token", module,
                   name + ": a token is present, but C_GetTokenInfo answers " +
                       RvName(slot.token_rv) + ", so the control passes it by",
                   "take the token out and put it in again; if that does not help, the token "
                   "or its reader is faulty");
    } else {
      section.Ok("slot", module, name + ": no token");
    }
    return false;
  }
  const TokenSurvey& token = slot.token;
  const std::string label = Quoted(token.label);
  std::vector<std::string> words = FlagWords(token.flags);
  section
      .Ok("token", module,
          name + ": token " + label + ", serial " + token.serial +
              (words.empty() ? "" : "; " + Joined(words)))
      .facts = {{"slot", slot.id},      {"slot_description", slot.description},
                {"label", token.label}, {"manufacturer", token.manufacturer},
                {"model", token.model}, {"serial", token.serial},
                {"flags", words},       {"mechanisms", MechanismFacts(slot)}};
  CheckPinState(section, module, label, token.flags);
  CheckMechanisms(section, module, label, slot);
  return present;
}

// The survey of one module file, and whether the control could connect
// through it (a present token the control reads).
struct Surveyed {
  std::string module;
  std::string first_token;  // the label ConnectToken would open a session on
  bool too_many = false;    // more present tokens than the control reads
};

std::optional<Surveyed> CheckModule(Section& section, const std::string& module, const Found& found,
                                    CCryptokiModule& binding, const Remedies& remedies) {
  const std::string path = PathText(found.path);
  if (const int32_t rc = binding.Load(path); rc != kOk) {
    section.Problem("token-module", module,
                    path + " (" + found.where + ") " +
                        (rc == kModuleNotLoaded
                             ? std::string("cannot be loaded")
                             : std::string("loads, but its entry points are missing or it refuses "
                                           "C_Initialize")),
                    remedies.broken_token_module);
    return std::nullopt;
  }
  ModuleSurvey survey;
  if (const int32_t rc = binding.Survey(survey); rc != kOk) {
    section.Problem("token-module", module,
                    path + " (" + found.where + ") loads, but lists no slots (result " +
                        std::to_string(rc) + ")",
                    remedies.broken_token_module);
    return std::nullopt;
  }
  std::string library;
  if (survey.info_rv == CKR_OK) {
    library = survey.library + " " + std::to_string(survey.library_version.major) + "." +
              std::to_string(survey.library_version.minor);
  }
  section
      .Ok("token-module", module,
          path + " (" + found.where + ")" + (library.empty() ? "" : ", " + Quoted(library)) + ": " +
              Counted(survey.slots.size(), "slot") + ", " + std::to_string(survey.present.size()) +
              " with a token")
      .facts = {{"file", path},
                {"where", found.where},
                {"library", library},
                {"slots", survey.slots.size()},
                {"tokens", survey.present.size()}};
  const bool too_many = survey.present.size() > kMostPresent;
  if (too_many) {
    section.Problem("token", module,
                    std::to_string(survey.present.size()) +
                        " tokens are present; the control reads at most " +
                        std::to_string(kMostPresent) + " and then connects to none",
                    "take out the tokens and readers this computer does not need");
  }
  Surveyed result{module, {}, too_many};
  for (const SlotSurvey& slot : survey.slots) {
    const bool present =
        std::find(survey.present.begin(), survey.present.end(), slot.id) != survey.present.end();
    if (CheckSlot(section, module, slot, present) && result.first_token.empty() && !too_many) {
      result.first_token = slot.token.label;
    }
  }
  return result;
}

}  // namespace

void CheckTokenModules(Report& report, const std::filesystem::path& control_folder) {
  Section& section = report.In("Token modules");
  const Remedies remedies = RemediesHere();
  const std::vector<ModuleFolder> folders = TokenModuleFolders(control_folder);
  std::vector<std::string> looked;
  for (const ModuleFolder& folder : folders) {
    looked.push_back(folder.name + " (" + PathText(folder.folder) + ")");
  }
  // Both stay loaded until the end, as in the control, so what they load
  // in turn can be seen.
  std::vector<std::unique_ptr<CCryptokiModule>> bindings;
  std::vector<std::filesystem::path> files;
  std::vector<Surveyed> surveyed;
  size_t missing = 0;
  for (const char* module : kModules) {
    const std::optional<Found> found = Locate(module, folders);
    if (!found) {
      ++missing;
      const std::string text = "not found " + Joined(looked, " nor ");
      if (TokenModulesShipped()) {
        section.Problem("token-module", module, text, remedies.missing_token_module);
      } else {
        section.Ok("token-module", module, text);
      }
      continue;
    }
    files.push_back(found->path);
    auto& binding = bindings.emplace_back(std::make_unique<CCryptokiModule>());
    if (auto result = CheckModule(section, module, *found, *binding, remedies)) {
      surveyed.push_back(std::move(*result));
    }
  }
  if (missing == kModules.size() && !TokenModulesShipped()) {
    section.Problem("token-module", "", "neither Tarvonav4.dll nor Tarvonav5.dll is installed",
                    remedies.missing_token_module);
  }
  if (auto loaded = OtherCryptokiModules(files); loaded && !files.empty()) {
    section
        .Ok("backend", "",
            loaded->empty() ? std::string("the token modules load no other Cryptoki module")
                            : "the token modules loaded these Cryptoki modules: " + Joined(*loaded))
        .facts = {{"modules", *loaded}};
  }
  const auto connects = std::find_if(surveyed.begin(), surveyed.end(),
                                     [](const Surveyed& s) { return !s.first_token.empty(); });
  if (connects != surveyed.end()) {
    section.Ok("connect", "",
               "ConnectToken opens a session on token " + Quoted(connects->first_token) +
                   " through " + connects->module);
  } else if (!surveyed.empty() &&
             std::none_of(surveyed.begin(), surveyed.end(),
                          [](const Surveyed& s) { return s.too_many; })) {
    section.Problem("connect", "", "no token is present: ConnectToken fails (1003)",
                    remedies.no_token);
  }
  bindings.clear();
  if (auto registered = RegisteredModules()) {
    if (registered->empty()) {
      section.Note("registered-module", "", "p11-kit knows no Cryptoki module",
                   "install the token's module (OpenSC for smart cards: sudo apt install opensc)");
    }
    for (const RegisteredModule& module : *registered) {
      section.Ok("registered-module", module.name, "known to p11-kit: " + module.file).facts = {
          {"name", module.name}, {"file", module.file}};
    }
  }
}

}  // namespace tarvona::host::diagnose
