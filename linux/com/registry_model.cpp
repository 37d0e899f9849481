#include "linux/com/registry_model.h"

#include <algorithm>

#include "common/ascii.h"

namespace tarvona::linux_com {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Splits a key path into its components; false for an empty path or
// component, or one that the file could not hold.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty() || HasControlCharacter(path)) return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end - start);
    if (part.empty()) return false;
    parts.push_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// Reads a quoted string at the start of `text`; the rest is left in `text`.
bool Unquote(std::string_view& text, std::string& out) {
  out.clear();
  if (text.empty() || text.front() != '"') return false;
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (++i == text.size() || (text[i] != '\\' && text[i] != '"')) return false;
      c = text[i];
    }
    out.push_back(c);
  }
  return false;
}

}  // namespace

struct MemoryRegistry::Key {
  struct Value {
    std::string name;
    std::string data;
  };
  std::string name;
  std::vector<Value> values;
  std::vector<std::unique_ptr<Key>> subkeys;

  Key* Child(std::string_view child) const {
    for (const auto& k : subkeys) {
      if (SameName(k->name, child)) return k.get();
    }
    return nullptr;
  }

  void Write(std::string& out, const std::string& path) const {
    out += "[" + path + "]\n";
    for (const auto& v : values) {
      out += (v.name.empty() ? std::string("@") : Quote(v.name)) + "=" + Quote(v.data) + "\n";
    }
    out += "\n";
    for (const auto& k : subkeys) k->Write(out, path + "\\" + k->name);
  }
};

MemoryRegistry::MemoryRegistry() : root_(std::make_unique<Key>()) {}
MemoryRegistry::~MemoryRegistry() = default;
MemoryRegistry::MemoryRegistry(MemoryRegistry&&) noexcept = default;
MemoryRegistry& MemoryRegistry::operator=(MemoryRegistry&&) noexcept = default;

namespace {

template <typename KeyT>
KeyT* FindKey(KeyT* root, std::string_view path) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts)) return nullptr;
  KeyT* key = root;
  for (auto part : parts) {
    key = key->Child(part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

}  // namespace

LSTATUS MemoryRegistry::CreateKey(std::string_view path) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts)) return ERROR_INVALID_PARAMETER;
  Key* key = root_.get();
  for (auto part : parts) {
    Key* child = key->Child(part);
    if (child == nullptr) {
      key->subkeys.push_back(std::make_unique<Key>());
      child = key->subkeys.back().get();
      child->name = part;
    }
    key = child;
  }
  return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::SetValue(std::string_view path, std::string_view name,
                                 std::string_view data) {
  if (HasControlCharacter(name) || HasControlCharacter(data)) return ERROR_INVALID_PARAMETER;
  Key* key = FindKey(root_.get(), path);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  for (auto& v : key->values) {
    if (SameName(v.name, name)) {
      v.data = data;
      return ERROR_SUCCESS;
    }
  }
  key->values.push_back({std::string(name), std::string(data)});
  return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::DeleteTree(std::string_view path) {
  auto slash = path.rfind('\\');
  Key* parent =
      slash == std::string_view::npos ? root_.get() : FindKey(root_.get(), path.substr(0, slash));
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (parent == nullptr || name.empty()) return ERROR_FILE_NOT_FOUND;
  auto& subkeys = parent->subkeys;
  auto found = std::find_if(subkeys.begin(), subkeys.end(),
                            [&](const auto& k) { return SameName(k->name, name); });
  if (found == subkeys.end()) return ERROR_FILE_NOT_FOUND;
  subkeys.erase(found);
  return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::KeyExists(std::string_view path) const {
  return FindKey<const Key>(root_.get(), path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS MemoryRegistry::QueryValue(std::string_view path, std::string_view name,
                                   std::string* data) const {
  const Key* key = FindKey<const Key>(root_.get(), path);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  for (const auto& v : key->values) {
    if (SameName(v.name, name)) {
      *data = v.data;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS MemoryRegistry::EnumKeys(std::string_view path, std::vector<std::string>* names) const {
  names->clear();
  const Key* key = FindKey<const Key>(root_.get(), path);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  for (const auto& k : key->subkeys) names->push_back(k->name);
  return ERROR_SUCCESS;
}

std::string MemoryRegistry::ToText() const {
  std::string out = std::string(kHeader) + "\n\n";
  for (const auto& k : root_->subkeys) k->Write(out, std::string(kRootName) + "\\" + k->name);
  return out;
}

std::optional<MemoryRegistry> MemoryRegistry::FromText(std::string_view text) {
  MemoryRegistry registry;
  std::string current;  // the key of the section being read
  bool header_seen = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!header_seen) {
      if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
      if (line != kHeader) return std::nullopt;
      header_seen = true;
      continue;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      std::string_view path = line.substr(1, line.size() - 2);
      if (path.size() <= kRootName.size() + 1 ||
          !SameName(path.substr(0, kRootName.size()), kRootName) ||
          path[kRootName.size()] != '\\') {
        return std::nullopt;
      }
      current = path.substr(kRootName.size() + 1);
      if (registry.CreateKey(current) != ERROR_SUCCESS) return std::nullopt;
      continue;
    }
    if (current.empty()) return std::nullopt;
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!Unquote(line, name)) {
      return std::nullopt;
    }
    std::string data;
    if (line.empty() || line.front() != '=') return std::nullopt;
    line.remove_prefix(1);
    if (!Unquote(line, data) || !line.empty()) return std::nullopt;
    if (registry.SetValue(current, name, data) != ERROR_SUCCESS) return std::nullopt;
  }
  if (!header_seen) return std::nullopt;
  return registry;
}

}  // namespace tarvona::linux_com
