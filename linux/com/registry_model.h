#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <winerror.h>

namespace tarvona::linux_com {

// HKEY_CLASSES_ROOT. Keys are named by their path below it, components
// separated by '\' ("CLSID\{...}\InprocServer32"); names of keys and values
// compare case-insensitively and keep the case they were created with.
// Every value is a string (REG_SZ); "" names a key's default value. Each
// call stands on its own, as a registry call does.
class Registry {
 public:
  virtual ~Registry() = default;
  // Creates the key and any missing parent; an existing key is left as is.
  virtual LSTATUS CreateKey(std::string_view key) = 0;
  // Sets a value of an existing key, replacing one of the same name where it
  // stands. Data cannot hold line breaks or NULs.
  virtual LSTATUS SetValue(std::string_view key, std::string_view name, std::string_view data) = 0;
  // Deletes the key with all its subkeys; ERROR_FILE_NOT_FOUND when absent.
  virtual LSTATUS DeleteTree(std::string_view key) = 0;
  virtual LSTATUS KeyExists(std::string_view key) const = 0;
  virtual LSTATUS QueryValue(std::string_view key, std::string_view name,
                             std::string* data) const = 0;
  // Names of the direct subkeys, in creation order.
  virtual LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const = 0;
};

// A registry held in memory. It is also the document form of the registry
// file: the text is the Windows registry export format.
class MemoryRegistry final : public Registry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;
  MemoryRegistry(MemoryRegistry&&) noexcept;
  MemoryRegistry& operator=(MemoryRegistry&&) noexcept;

  LSTATUS CreateKey(std::string_view key) override;
  LSTATUS SetValue(std::string_view key, std::string_view name, std::string_view data) override;
  LSTATUS DeleteTree(std::string_view key) override;
  LSTATUS KeyExists(std::string_view key) const override;
  LSTATUS QueryValue(std::string_view key, std::string_view name, std::string* data) const override;
  LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const override;

  // "Windows Registry Editor Version 5.00", a blank line, then one section
  // per key, parents before children, each in creation order and followed
  // by a blank line:
  //   [HKEY_CLASSES_ROOT\CLSID\{...}]
  //   @="default value"
  //   "Name"="value with \\ and \" escaped"
  std::string ToText() const;
  // Reads that text back (line ends LF or CRLF); nullopt when it is not in
  // that form or holds anything but string values.
  static std::optional<MemoryRegistry> FromText(std::string_view text);

 private:
  struct Key;
  std::unique_ptr<Key> root_;
};

// The registry kept in a file. Every change is one transaction: under an
// exclusive lock on "<file>.lock" the file is read, changed, written to
// "<file>.tmp", flushed to disk and renamed over the file, so readers and a
// process killed at any moment see either the old or the new record, and
// concurrent writers never lose each other's changes. Reads take no lock.
class FileRegistry final : public Registry {
 public:
  // The user's own classes, found anew at each call (UserClassesPath()).
  FileRegistry();
  explicit FileRegistry(std::string path);

  LSTATUS CreateKey(std::string_view key) override;
  LSTATUS SetValue(std::string_view key, std::string_view name, std::string_view data) override;
  LSTATUS DeleteTree(std::string_view key) override;
  LSTATUS KeyExists(std::string_view key) const override;
  LSTATUS QueryValue(std::string_view key, std::string_view name, std::string* data) const override;
  LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const override;

  // The whole record as it stands; ERROR_BADDB for a file that does not parse.
  LSTATUS Read(MemoryRegistry* out) const;

 private:
  template <typename Change>
  LSTATUS Modify(Change change);
  std::string Path() const;

  std::string path_;
};

// $XDG_DATA_HOME/tarvona/classes.reg, with XDG_DATA_HOME defaulting to
// ~/.local/share (a relative XDG_DATA_HOME is ignored, as the XDG rules
// say). Empty when no home folder is known.
std::string UserClassesPath();

}  // namespace tarvona::linux_com
