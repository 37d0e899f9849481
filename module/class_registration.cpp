#include "module/class_registration.h"

#include <string>

namespace tarvona::module {
namespace {

using com::ERROR_SUCCESS;

// Creates `key` and sets its default value.
bool SetDefault(com::Registry& registry, const std::string& key, const std::string& data) {
  return registry.CreateKey(key) == ERROR_SUCCESS &&
         registry.SetValue(key, "", data) == ERROR_SUCCESS;
}

bool Removed(com::LSTATUS status) {
  return status == ERROR_SUCCESS || status == com::ERROR_FILE_NOT_FOUND ||
         status == com::ERROR_BADKEY;
}

std::string TypeName(const RegistrationContext& context, uint32_t id, const std::string& clsid) {
  return context.resources.LoadString(id).value_or(clsid);
}

}  // namespace

bool RegisterControlClass(const RegistrationContext& context, const CLSID& clsid,
                          const char* prog_id, uint32_t type_name_id, uint32_t bitmap_id,
                          bool apartment, uint32_t misc_status, const com::GUID& libid,
                          uint16_t major, uint16_t minor) {
  com::Registry& registry = context.registry;
  const std::string class_id = com::GuidToString(clsid);
  const std::string type_name = TypeName(context, type_name_id, class_id);
  const std::string class_key = "CLSID\\" + class_id;
  const std::string& path = context.module_path;
  if (registry.CreateKey(class_key) != ERROR_SUCCESS ||
      registry.CreateKey(prog_id) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = SetDefault(registry, prog_id, type_name) &&
            SetDefault(registry, std::string(prog_id) + "\\CLSID", class_id) &&
            SetDefault(registry, class_key, type_name) &&
            SetDefault(registry, class_key + "\\ProgID", prog_id) &&
            SetDefault(registry, class_key + "\\InprocServer32", path) &&
            SetDefault(registry, class_key + "\\ToolboxBitmap32",
                       path + ", " + std::to_string(bitmap_id)) &&
            SetDefault(registry, class_key + "\\MiscStatus", "0") &&
            SetDefault(registry, class_key + "\\MiscStatus\\1", std::to_string(misc_status)) &&
            SetDefault(registry, class_key + "\\Control", "") &&
            SetDefault(registry, class_key + "\\TypeLib", com::GuidToString(libid)) &&
            SetDefault(registry, class_key + "\\Version",
                       std::to_string(major) + "." + std::to_string(minor));
  if (ok && apartment) {
    ok = registry.SetValue(class_key + "\\InprocServer32", "ThreadingModel", "Apartment") ==
         ERROR_SUCCESS;
  }
  return ok;
}

bool RegisterPropertyPageClass(const RegistrationContext& context, const CLSID& clsid,
                               uint32_t type_name_id, bool apartment) {
  com::Registry& registry = context.registry;
  const std::string class_id = com::GuidToString(clsid);
  const std::string class_key = "CLSID\\" + class_id;
  bool ok = SetDefault(registry, class_key, TypeName(context, type_name_id, class_id)) &&
            SetDefault(registry, class_key + "\\InprocServer32", context.module_path);
  if (ok && apartment) {
    ok = registry.SetValue(class_key + "\\InprocServer32", "ThreadingModel", "Apartment") ==
         ERROR_SUCCESS;
  }
  return ok;
}

bool UnregisterClass(const RegistrationContext& context, const CLSID& clsid, const char* prog_id) {
  com::Registry& registry = context.registry;
  const std::string class_key = "CLSID\\" + com::GuidToString(clsid);
  if (registry.KeyExists(class_key + "\\InprocServer") == ERROR_SUCCESS) {
    bool server = Removed(registry.DeleteTree(class_key + "\\InprocServer32"));
    bool bitmap = Removed(registry.DeleteTree(class_key + "\\ToolboxBitmap32"));
    return server && bitmap;
  }
  bool ok = Removed(registry.DeleteTree(class_key));
  if (prog_id != nullptr) ok = Removed(registry.DeleteTree(prog_id)) && ok;
  return ok;
}

}  // namespace tarvona::module
