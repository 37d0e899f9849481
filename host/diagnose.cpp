#include "host/diagnose.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/control_identity.h"
#include "common/registration_record.h"
#include "encoding/hex.h"
#include "host/control_host.h"
#include "host/diagnose_platform.h"
#include "host/host_session.h"
#include "host/origin_policy.h"
#include "host/policy.h"
#include "host/platform_host.h"
#include "platform/dynamic_library.h"
#include "platform/own_path.h"

namespace tarvona::host::diagnose {
namespace {

using json = nlohmann::ordered_json;

constexpr char kModuleFile[] = "TarvonaActiveX.ocx";

// How to register the control again: the module beside this program when
// there is one, as installations place them.
std::string RegisterAgain(bool machine) {
  const std::filesystem::path beside = platform::OwnFolder() / kModuleFile;
  std::error_code error;
  const bool there = std::filesystem::is_regular_file(beside, error);
  return RegisterModule(PathText(there ? beside : std::filesystem::path("FOLDER") / kModuleFile),
                        machine);
}

std::filesystem::path CheckModuleFile(Section& section, const Record& record,
                                      const Remedies& remedies) {
  const std::string& module = record.module;
  if (module.empty()) {
    section.Problem("module-file", "", record.name + " names no module file for the control",
                    "register the control again: " + RegisterAgain(record.machine));
    return {};
  }
  const std::filesystem::path path = std::filesystem::u8path(module);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    section
        .Problem("module-file", "",
                 "the record names the module file " + module + ", which does not exist",
                 remedies.reinstall +
                     "; or register the control where it is now: " + RegisterAgain(record.machine))
        .facts = {{"module", module}, {"exists", false}};
    return {};
  }
  auto library = platform::SystemLibraryLoader().Load(module);
  if (library == nullptr || library->Symbol("DllGetClassObject") == nullptr) {
    section
        .Problem(
            "module-file", "",
            module + (library == nullptr ? " exists but cannot be loaded"
                                         : " is not the control's module (no DllGetClassObject)"),
            remedies.reinstall)
        .facts = {{"module", module}, {"exists", true}, {"loads", false}};
    return {};
  }
  section.Ok("module-file", "", "the module file " + module + " exists and loads").facts = {
      {"module", module}, {"exists", true}, {"loads", true}};
  return path;
}

}  // namespace

int Run(bool as_json) {
  Report report("Tarvona control diagnostics (tarvona-host --diagnose)");
  CheckProduct(report);
  const std::filesystem::path control = CheckRegistration(report);
  CheckBrowsers(report);
  CheckTokenModules(report, control.empty() ? platform::OwnFolder() : control.parent_path());
  CheckStore(report);
  CheckPolicy(report);
  // Last: the control loads the token modules again, and would hold them.
  if (!control.empty()) CheckCreation(report);
  const std::string out = as_json ? Serialize(report.Json()) + "\n" : report.Text();
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return report.Count(Status::kProblem) == 0 ? 0 : 1;
}

void CheckProduct(Report& report) {
  const std::filesystem::path program = platform::OwnBinaryPath();
  report.Fact("version", TARVONA_VERSION);
  report.Fact("program", PathText(program));
  report.In("Product")
      .Ok("version", "",
          "Tarvona control " TARVONA_VERSION ", " + PathText(program.filename()) +
              " installed in " + PathText(program.parent_path()))
      .facts = {{"version", TARVONA_VERSION}, {"folder", PathText(program.parent_path())}};
}

std::filesystem::path CheckRegistration(Report& report) {
  Section& section = report.In("Registration");
  const Remedies remedies = RemediesHere();
  const std::string prog_id = identity::kControlProgId;
  const std::string clsid = registration::GuidText(identity::kControlClsid);
  std::vector<std::string> looked;
  const Record* answering = nullptr;
  std::vector<Record> records = Records();
  for (const Record& record : records) {
    looked.push_back(record.name);
    if (!record.error.empty()) {
      const std::string text = record.name + " cannot be read: " + record.error;
      const std::string fix =
          "repair or remove it, then register the control again: " + RegisterAgain(record.machine);
      // Behind a record that answers, it is never read; before one, the
      // runtime reads no further.
      if (answering != nullptr) {
        section.Note("record", "", text, fix);
        continue;
      }
      section.Problem("record", "", text, fix);
      return {};
    }
    if (!record.registered) continue;
    if (answering == nullptr) {
      answering = &record;
      section.Ok("record", "", record.name + " registers " + prog_id).facts = {
          {"record", record.name}, {"machine", record.machine}, {"module", record.module}};
    } else {
      section.Ok("record", "",
                 record.name + " registers it too (" + record.module + "); " + answering->name +
                     " comes first");
    }
  }
  if (answering == nullptr) {
    section.Problem(
        "record", "",
        "the control (" + prog_id + ") is not registered: looked in " + Joined(looked, " and "),
        remedies.reinstall + "; or register it: " + RegisterAgain(false));
    return {};
  }
  if (answering->prog_id_class != clsid) {
    section.Problem("prog-id", "",
                    "the ProgID " + prog_id + " names the class " +
                        Quoted(answering->prog_id_class) + ", not the control's " + clsid,
                    "register the control again: " + RegisterAgain(answering->machine));
  }
  return CheckModuleFile(section, *answering, remedies);
}

void CheckCreation(Report& report) {
  Section& section = report.In("Registration");
  auto controls = OpenPlatformControls();
  std::unique_ptr<HostedControl> control;
  const Outcome created = controls->host().Create(identity::kControlProgId, nullptr, -1, &control);
  if (Failed(created.status)) {
    const std::string_view name = StatusName(created.status);
    section.Problem("create", "",
                    "creating the control by its ProgID fails: " +
                        (name.empty() ? std::to_string(created.status) : std::string(name)) + " (" +
                        created.message + ")",
                    RemediesHere().reinstall);
    return;
  }
  section.Ok("create", "",
             std::string("the control is created by its ProgID ") + identity::kControlProgId);
  control.reset();
  controls->host().FreeUnused();
}

void CheckStore(Report& report) {
  Section& section = report.In("Certificate store");
  const StoreFacts facts = DescribeStore();
  auto store = StorePlatform().OpenPersonalStore();
  if (!store) {
    const std::string text = facts.name +
                             " cannot be opened: the store road (SignByCSP, VerifyByCSP, "
                             "EncryptByCSP, DecryptByCSP) finds no certificate";
    if (facts.may_be_missing) {
      section.Note("store", "", text, RemediesHere().missing_store);
    } else {
      section.Problem("store", "", text, RemediesHere().missing_store);
    }
    return;
  }
  const auto keyed =
      static_cast<size_t>(std::count_if(store->begin(), store->end(), [](const auto& certificate) {
        return certificate->HoldsPrivateKey();
      }));
  std::string text = facts.name + ": " + Counted(store->size(), "certificate") + ", " +
                     std::to_string(keyed) + " with a private key";
  if (facts.password) {
    text += *facts.password ? "; protected by a password, which is asked for when a key is used"
                            : "; no password";
  }
  Finding& summary = section.Ok("store", "", text);
  summary.facts = {{"store", facts.name}, {"certificates", store->size()}, {"private_keys", keyed}};
  if (facts.password) summary.facts["password"] = *facts.password;
  for (const auto& certificate : *store) {
    std::vector<uint8_t> serial = certificate->SerialNumber();
    std::reverse(serial.begin(), serial.end());  // most significant byte first, as people read it
    const std::string subject = certificate->Summary().subject;
    const bool key = certificate->HoldsPrivateKey();
    section
        .Ok("certificate", "",
            Quoted(subject) + ", serial " + HexEncode(serial) +
                (key ? ", with its private key" : ", without a private key"))
        .facts = {{"subject", subject}, {"serial", HexEncode(serial)}, {"private_key", key}};
  }
  if (!store->empty() && keyed == 0) {
    section.Note("store", "",
                 "no certificate in the store has its private key: signing and decrypting "
                 "through the store find none",
                 "import the certificate together with its key (a PKCS #12 file, .p12)");
  }
}

void CheckPolicy(Report& report) {
  Section& section = report.In("Policy in effect");
  // The machine's policy first: it decides before the user's own list.
  const Policy policy = ReadMachinePolicy();
  const std::string described = Joined(DescribePolicy(policy), "; ");
  if (policy.refuses_every_page) {
    section.Problem("machine-policy", "",
                    "the machine's policy for pages cannot be used, so no page may use the "
                    "control: " + described,
                    "correct the policy or remove it, as an administrator (docs/administration.md)");
  } else if (policy.read_from.empty()) {
    section.Ok("machine-policy", "", "no machine policy: the user's own settings decide");
  } else {
    section.Ok("machine-policy", "", described).facts = {{"read_from", policy.read_from},
                                                         {"set_in", policy.set_in}};
  }
  const std::string path = OriginPolicy::DefaultAllowListPath();
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(std::filesystem::u8path(path), error)) {
    section.Ok("allow-list", "",
               "no allow-list" + (path.empty() ? std::string() : " (" + path + ")") +
                   ": every site is asked for when it first uses the control");
    return;
  }
  std::vector<std::string> sites;
  std::vector<AllowListEntry> unusable;
  for (AllowListEntry& entry : ReadAllowList(path)) {
    if (IsWebOrigin(entry.text)) {
      sites.push_back(std::move(entry.text));
    } else {
      unusable.push_back(std::move(entry));
    }
  }
  const std::string allowed = sites.empty()
                                  ? std::string("no site")
                                  : Counted(sites.size(), "site") + " (" + Joined(sites) + ")";
  section
      .Ok("allow-list", "",
          path + ": " + allowed + " allowed without asking; every other site is asked for")
      .facts = {{"allow_list", path}, {"sites", sites}};
  for (const AllowListEntry& entry : unusable) {
    section.Note("allow-list", "",
                 "line " + std::to_string(entry.line) + " of " + path + ", " + Quoted(entry.text) +
                     ", is no web origin and allows nothing",
                 "write each site as scheme://host or scheme://host:port (http or https, "
                 "lower case, no path and no trailing slash)");
  }
}

}  // namespace tarvona::host::diagnose
