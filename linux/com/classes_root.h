#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "linux/com/registry_model.h"

namespace tarvona::linux_com {

// The folder standing for the machine's data home: its classes file,
// <folder>/tarvona/classes.reg, is what HKEY_LOCAL_MACHINE\Software\Classes
// holds on Windows. `tarvona-regsvr --system` registers there by making it
// the registering process's XDG_DATA_HOME, so the module writes the
// machine's record exactly as it writes a user's.
inline constexpr char kMachineDataHome[] = "/var/lib";

// /var/lib/tarvona/classes.reg.
std::string MachineClassesPath();

// HKEY_CLASSES_ROOT as hosts see it: the user's classes merged over the
// machine's. A key the user's record holds is read from there alone, values
// and all, so a user's registration overrides the machine's; any other key
// is read from the machine's record. Subkeys are listed from both, the
// user's first. Changes go to the user's record. A record that is missing
// reads as empty; one that cannot be read or parsed fails the calls that
// read it.
class ClassesRoot final : public Registry {
 public:
  ClassesRoot();  // UserClassesPath() over MachineClassesPath()
  ClassesRoot(std::string user_path, std::string machine_path);

  LSTATUS CreateKey(std::string_view key) override;
  LSTATUS SetValue(std::string_view key, std::string_view name, std::string_view data) override;
  LSTATUS DeleteTree(std::string_view key) override;
  LSTATUS KeyExists(std::string_view key) const override;
  LSTATUS QueryValue(std::string_view key, std::string_view name, std::string* data) const override;
  LSTATUS EnumKeys(std::string_view key, std::vector<std::string>* names) const override;

 private:
  // The record that answers for `key`: the user's when it holds the key,
  // else the machine's.
  LSTATUS Owner(std::string_view key, MemoryRegistry* out) const;

  FileRegistry user_;
  FileRegistry machine_;
};

}  // namespace tarvona::linux_com
