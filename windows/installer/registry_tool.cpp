// The installer's registry from the registration record and the browsers'
// host table, and the check of a registry against that record. Runs on the
// build machine.
//   tarvona-msi-registry wxs x64|x86
//     prints the WiX include with the record's components and the host's,
//     its policy template among them (registry.wxi)
//   tarvona-msi-registry manifests DIR
//     writes the host's manifests, as the package installs them next to
//     tarvona-host.exe, into DIR
//   tarvona-msi-registry check EXPORT.reg MODE FLAVOUR PATH
//     checks a UTF-8 export of HKLM\Software\Classes (64-bit Wine's, where
//     the 32-bit view lies under Wow6432Node) for the module PATH of
//     FLAVOUR (64 or 32): MODE "present" wants every row of that flavour,
//     "absent" none of them but the category definitions.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/browser_hosts.h"
#include "common/registration_record.h"

namespace {

using tarvona::registration::Row;
using tarvona::registration::View;
using tarvona::registration::Writer;

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// MSI formatted text: brackets are its syntax, so literal ones are escaped.
std::string Formatted(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[')
      out += "[\\[]";
    else if (c == ']')
      out += "[\\]]";
    else
      out += c;
  }
  return out;
}

bool IsPlatformKey(const Row& row) {
  return row.key.find(tarvona::registration::kWinPlaceholder) != std::string::npos;
}

struct Flavour {
  const char* suffix;  // of the WiX ids
  bool win64;
  const char* file_id;
  const char* folder_id;
  const char* win;
};

void PrintValue(const Row& row, const Flavour& flavour, int& counter) {
  const std::string file = flavour.file_id;
  const std::string key = tarvona::registration::Expand(row.key, "", "", "", flavour.win);
  const std::string data =
      tarvona::registration::Expand(Formatted(row.data), "[#" + file + "]", "[!" + file + "]",
                                    std::string("[") + flavour.folder_id + "]", flavour.win);
  std::cout << "      <RegistryKey Root=\"HKCR\" Key=\"" << Xml(key) << "\"";
  if (row.key_only) {
    // A key with no value: "*" without data creates it on install and
    // removes it with its subtree on uninstall.
    std::cout << ">\n        <RegistryValue Id=\"reg" << flavour.suffix << "_" << counter++
              << "\" Type=\"string\" Name=\"*\" />\n      </RegistryKey>\n";
    return;
  }
  std::cout << ">\n        <RegistryValue Id=\"reg" << flavour.suffix << "_" << counter++
            << "\" Type=\"string\"";
  if (!row.name.empty()) std::cout << " Name=\"" << Xml(row.name) << "\"";
  std::cout << " Value=\"" << Xml(data) << "\"";
  std::cout << " />\n      </RegistryKey>\n";
}

std::string ManifestFileId(std::string_view manifest) {
  return tarvona::browser_hosts::IsFirefoxManifest(manifest) ? "ManifestFirefox"
                                                             : "ManifestChromium";
}

// The browsers' host of the package's own flavour, its manifests beside it
// (naming it by a path relative to themselves) and each browser's key for
// the machine naming its manifest.
void PrintHost(const Flavour& flavour) {
  std::cout << "  <DirectoryRef Id=\"" << flavour.folder_id << "\">\n"
            << "    <Component Id=\"Host\" Guid=\"*\" Win64=\"" << (flavour.win64 ? "yes" : "no")
            << "\">\n"
            << "      <File Id=\"Host\" Name=\"tarvona-host.exe\" Source=\"$(var.HostSource)\" "
               "KeyPath=\"yes\" />\n";
  for (std::string_view manifest : tarvona::browser_hosts::kManifests) {
    std::cout << "      <File Id=\"" << ManifestFileId(manifest) << "\" Name=\"" << manifest
              << "\" Source=\"manifests/" << manifest << "\" />\n";
  }
  for (const auto& browser : tarvona::browser_hosts::kBrowsers) {
    std::cout << "      <RegistryValue Id=\"host" << browser.id << "\" Root=\"HKLM\" Key=\""
              << Xml(tarvona::browser_hosts::KeyOf(browser)) << "\" Type=\"string\" Value=\"[#"
              << ManifestFileId(browser.manifest) << "]\" />\n";
  }
  std::cout << "    </Component>\n";
  // Group Policy's template of the host's policy for pages, laid out as
  // %SystemRoot%\PolicyDefinitions is, for an administrator to copy there.
  const char* win64 = flavour.win64 ? "yes" : "no";
  std::cout << "    <Directory Id=\"PolicyDefinitions\" Name=\"PolicyDefinitions\">\n"
            << "      <Component Id=\"PolicyTemplate\" Guid=\"*\" Win64=\"" << win64 << "\">\n"
            << "        <File Id=\"PolicyAdmx\" Name=\"tarvona.admx\" "
               "Source=\"PolicyDefinitions/tarvona.admx\" KeyPath=\"yes\" />\n"
            << "      </Component>\n"
            << "      <Directory Id=\"PolicyDefinitionsEnUs\" Name=\"en-US\">\n"
            << "        <Component Id=\"PolicyTexts\" Guid=\"*\" Win64=\"" << win64 << "\">\n"
            << "          <File Id=\"PolicyAdml\" Name=\"tarvona.adml\" "
               "Source=\"PolicyDefinitions/en-US/tarvona.adml\" KeyPath=\"yes\" />\n"
            << "        </Component>\n"
            << "      </Directory>\n"
            << "    </Directory>\n"
            << "  </DirectoryRef>\n";
}

// One component per flavour with its module file and rows, the shared rows
// in the first flavour's, and the category definitions in a permanent one: uninstall
// leaves them as unregistration does.
int PrintWxs(const std::string& arch) {
  const Flavour x64{"64", true, "Ocx64", "INSTALLDIR64", "win64"};
  const Flavour x86{"32", false, "Ocx32", "INSTALLDIR32", "win32"};
  std::vector<Flavour> flavours;
  if (arch == "x64")
    flavours = {x64, x86};
  else if (arch == "x86")
    flavours = {x86};
  else
    return 2;

  const std::vector<Row> rows = tarvona::registration::Record();
  std::cout << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<!-- Generated by tarvona-msi-registry from common/registration_record.h. -->\n"
               "<Include>\n";
  int counter = 0;
  for (size_t i = 0; i < flavours.size(); ++i) {
    const Flavour& flavour = flavours[i];
    std::cout << "  <DirectoryRef Id=\"" << flavour.folder_id << "\">\n"
              << "    <Component Id=\"Control" << flavour.suffix << "\" Guid=\"*\" Win64=\""
              << (flavour.win64 ? "yes" : "no") << "\">\n"
              << "      <File Id=\"" << flavour.file_id
              << "\" Name=\"TarvonaActiveX.ocx\" Source=\"$(var." << flavour.file_id
              << "Source)\" KeyPath=\"yes\" />\n";
    for (const Row& row : rows) {
      if (row.writer == Writer::kCategoryDefinition) continue;
      const bool mine = row.view == View::kEach || i == 0 || IsPlatformKey(row);
      if (mine) PrintValue(row, flavour, counter);
    }
    std::cout << "    </Component>\n  </DirectoryRef>\n";
  }
  const Flavour& first = flavours[0];
  std::cout << "  <DirectoryRef Id=\"" << first.folder_id << "\">\n"
            << "    <Component Id=\"CategoryDefinitions\" Guid=\"*\" Win64=\""
            << (first.win64 ? "yes" : "no") << "\">\n";
  bool key_path = true;
  for (const Row& row : rows) {
    if (row.writer != Writer::kCategoryDefinition) continue;
    std::cout << "      <RegistryValue Root=\"HKCR\" Key=\"" << Xml(row.key) << "\" Name=\""
              << Xml(row.name) << "\" Type=\"string\" Value=\"" << Xml(Formatted(row.data)) << "\""
              << (key_path ? " KeyPath=\"yes\"" : "") << " />\n";
    key_path = false;
  }
  std::cout << "    </Component>\n  </DirectoryRef>\n";
  PrintHost(first);
  std::cout << "  <Feature Id=\"Control\" Title=\"Tarvona control\" Level=\"1\">\n";
  for (const Flavour& flavour : flavours) {
    std::cout << "    <ComponentRef Id=\"Control" << flavour.suffix << "\" />\n";
  }
  std::cout << "    <ComponentRef Id=\"CategoryDefinitions\" />\n"
            << "    <ComponentRef Id=\"Host\" />\n"
            << "    <ComponentRef Id=\"PolicyTemplate\" />\n"
            << "    <ComponentRef Id=\"PolicyTexts\" />\n  </Feature>\n</Include>\n";
  return 0;
}

int WriteManifests(const std::string& folder) {
  for (std::string_view manifest : tarvona::browser_hosts::kManifests) {
    std::ofstream out(folder + "/" + std::string(manifest), std::ios::binary | std::ios::trunc);
    out << tarvona::browser_hosts::Manifest("tarvona-host.exe",
                                            tarvona::browser_hosts::IsFirefoxManifest(manifest));
    if (!out.flush()) return 1;
  }
  return 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A .reg string, unquoted and unescaped; `at` points at the opening quote.
std::string RegString(const std::string& line, size_t& at) {
  std::string out;
  for (++at; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) ++at;
    out += line[at];
  }
  ++at;
  return out;
}

// key (lower case, relative to HKLM\Software\Classes) -> value name -> data
using Registry = std::map<std::string, std::map<std::string, std::string>>;

Registry ReadExport(const std::string& file) {
  std::ifstream in(file);
  Registry registry;
  const std::string root = "hkey_local_machine\\software\\classes\\";
  std::string line, key;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      key = Lower(line.substr(1, line.size() - 2));
      key = key.rfind(root, 0) == 0 ? key.substr(root.size()) : "";
      if (!key.empty()) registry[key];
      continue;
    }
    if (key.empty() || line.empty()) continue;
    size_t at = 0;
    std::string name;
    if (line[0] == '@')
      at = 1;
    else if (line[0] == '"')
      name = Lower(RegString(line, at));
    else
      continue;
    if (at >= line.size() || line[at] != '=') continue;
    ++at;
    // Only strings are the record's; other types are kept as they stand.
    registry[key][name] =
        at < line.size() && line[at] == '"' ? RegString(line, at) : line.substr(at);
  }
  return registry;
}

bool ShortForm(const std::string& path) {
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '\\')) {
    const size_t dot = part.find('.');
    const std::string base = part.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : part.substr(dot + 1);
    if (base.size() > 8 || ext.size() > 3 || part.find(' ') != std::string::npos) return false;
  }
  return true;
}

int Check(const std::string& file, const std::string& mode, const std::string& flavour,
          const std::string& path) {
  const Registry registry = ReadExport(file);
  if (registry.empty()) {
    std::cerr << file << ": no keys under HKLM\\Software\\Classes\n";
    return 1;
  }
  const bool present = mode == "present";
  const bool win64 = flavour == "64";
  const std::string view = win64 ? "" : "wow6432node\\";
  const std::string folder = path.substr(0, path.rfind('\\'));
  const std::vector<Row> rows = tarvona::registration::Record();
  // The module writes the short form of its name; which one the system
  // gives is the system's, as long as every row names the same.
  std::string short_path;
  int failures = 0, checked = 0;
  const auto fail = [&](const std::string& what) {
    std::cerr << "FAIL " << what << "\n";
    ++failures;
  };
  for (const Row& row : rows) {
    const bool definition = row.writer == Writer::kCategoryDefinition;
    // Shared rows of the 32-bit flavour lie in whichever view its writer chose.
    if (!win64 && row.view == View::kShared && !IsPlatformKey(row)) continue;
    const std::string key =
        tarvona::registration::Expand(row.key, "", "", "", win64 ? "win64" : "win32");
    std::vector<std::string> places = {Lower(view + key)};
    if (!win64 && row.view == View::kShared) places.push_back(Lower(key));
    const Registry::mapped_type* values = nullptr;
    for (const std::string& place : places) {
      const auto found = registry.find(place);
      if (found != registry.end()) values = &found->second;
    }
    ++checked;
    const std::string label = key + (row.name.empty() ? "" : " " + row.name);
    if (!present && !definition) {
      if (values != nullptr && (row.key_only || values->count(Lower(row.name)) != 0)) {
        fail("left behind: " + label);
      }
      continue;
    }
    if (values == nullptr) {
      fail("missing key: " + key);
      continue;
    }
    if (row.key_only) continue;
    const auto value = values->find(Lower(row.name));
    if (value == values->end()) {
      fail("missing value: " + label);
      continue;
    }
    std::string actual = value->second;
    std::string expected = row.data;
    if (expected.find(tarvona::registration::kShortPathPlaceholder) != std::string::npos) {
      if (short_path.empty()) {
        short_path = actual.substr(0, actual.find(','));
        if (Lower(short_path) != Lower(path) && !ShortForm(short_path)) {
          fail("not the module's name in short form: " + short_path);
        }
      }
    }
    // A folder property may come with its closing backslash.
    if (expected == tarvona::registration::kFolderPlaceholder && actual.size() > folder.size() &&
        actual.back() == '\\') {
      actual.pop_back();
    }
    expected = tarvona::registration::Expand(expected, path, short_path, folder,
                                             win64 ? "win64" : "win32");
    // Wine's RegisterTypeLib writes the library's flags unmasked, with
    // LIBFLAG_FHASDISKIMAGE (8) among them.
    if (row.writer == Writer::kTypeLibrary && row.key.ends_with("\\FLAGS") &&
        actual == std::to_string(tarvona::registration::kLibFlags | 0x8)) {
      actual = expected;
    }
    if (Lower(actual) != Lower(expected)) {
      fail(label + ": \"" + actual + "\", expected \"" + expected + "\"");
    }
  }
  if (!present) {
    // Nothing of the record's keys may stay, not even an empty parent: the
    // class, ProgID, library and interface keys go as a whole.
    for (const Row& row : rows) {
      if (row.writer == Writer::kCategoryDefinition) continue;
      const std::string key = Lower(row.key);
      const size_t first = key.find('\\');
      const std::string root =
          first == std::string::npos ? key : key.substr(0, key.find('\\', first + 1));
      for (const std::string& place : {Lower(view + root), root}) {
        const auto found = registry.lower_bound(place);
        if (found != registry.end() && found->first.rfind(place, 0) == 0 &&
            (found->first.size() == place.size() || found->first[place.size()] == '\\')) {
          fail("left behind: " + found->first);
          break;
        }
      }
    }
  }
  std::cout << (failures == 0 ? "ok" : "FAILED") << ": " << checked << " rows " << mode
            << " for the " << flavour << "-bit module " << path << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "wxs") return PrintWxs(args[1]);
  if (args.size() == 2 && args[0] == "manifests") return WriteManifests(args[1]);
  if (args.size() == 5 && args[0] == "check" && (args[2] == "present" || args[2] == "absent") &&
      (args[3] == "64" || args[3] == "32")) {
    return Check(args[1], args[2], args[3], args[4]);
  }
  std::cerr << "usage: tarvona-msi-registry wxs x64|x86\n"
               "       tarvona-msi-registry manifests DIR\n"
               "       tarvona-msi-registry check EXPORT.reg present|absent 64|32 PATH\n";
  return 2;
}
