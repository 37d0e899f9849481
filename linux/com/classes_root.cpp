#include "linux/com/classes_root.h"

#include <strings.h>

#include <algorithm>
#include <utility>

namespace tarvona::linux_com {

std::string MachineClassesPath() { return std::string(kMachineDataHome) + "/tarvona/classes.reg"; }

ClassesRoot::ClassesRoot() : machine_(MachineClassesPath()) {}

ClassesRoot::ClassesRoot(std::string user_path, std::string machine_path)
    : user_(std::move(user_path)), machine_(std::move(machine_path)) {}

LSTATUS ClassesRoot::CreateKey(std::string_view key) { return user_.CreateKey(key); }

LSTATUS ClassesRoot::SetValue(std::string_view key, std::string_view name, std::string_view data) {
  return user_.SetValue(key, name, data);
}

LSTATUS ClassesRoot::DeleteTree(std::string_view key) { return user_.DeleteTree(key); }

LSTATUS ClassesRoot::Owner(std::string_view key, MemoryRegistry* out) const {
  if (LSTATUS status = user_.Read(out); status != ERROR_SUCCESS) return status;
  LSTATUS held = out->KeyExists(key);
  if (held != ERROR_FILE_NOT_FOUND) return held;
  return machine_.Read(out);
}

LSTATUS ClassesRoot::KeyExists(std::string_view key) const {
  MemoryRegistry owner;
  LSTATUS status = Owner(key, &owner);
  return status != ERROR_SUCCESS ? status : owner.KeyExists(key);
}

LSTATUS ClassesRoot::QueryValue(std::string_view key, std::string_view name,
                                std::string* data) const {
  MemoryRegistry owner;
  LSTATUS status = Owner(key, &owner);
  return status != ERROR_SUCCESS ? status : owner.QueryValue(key, name, data);
}

LSTATUS ClassesRoot::EnumKeys(std::string_view key, std::vector<std::string>* names) const {
  MemoryRegistry user;
  MemoryRegistry machine;
  if (LSTATUS status = user_.Read(&user); status != ERROR_SUCCESS) return status;
  if (LSTATUS status = machine_.Read(&machine); status != ERROR_SUCCESS) return status;
  std::vector<std::string> own;
  std::vector<std::string> shared;
  LSTATUS in_user = user.EnumKeys(key, &own);
  LSTATUS in_machine = machine.EnumKeys(key, &shared);
  if (in_user != ERROR_SUCCESS && in_machine != ERROR_SUCCESS) return in_user;
  for (std::string& name : shared) {
    bool listed = std::any_of(own.begin(), own.end(), [&](const std::string& mine) {
      return strcasecmp(mine.c_str(), name.c_str()) == 0;
    });
    if (!listed) own.push_back(std::move(name));
  }
  *names = std::move(own);
  return ERROR_SUCCESS;
}

}  // namespace tarvona::linux_com
