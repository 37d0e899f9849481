#include "com/type_library.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "com/byte_io.h"
#include "com/module_resources.h"

namespace tarvona::com {
namespace {

constexpr uint8_t kMagic[4] = {'T', 'V', 'T', 'L'};
constexpr uint16_t kFormat = 1;
constexpr const char* kSysKind = sizeof(void*) == 8 ? "linux64" : "linux32";

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool KnownVarType(uint16_t vt) {
  switch (static_cast<VarType>(vt)) {
    case VarType::kEmpty:
    case VarType::kI2:
    case VarType::kI4:
    case VarType::kBstr:
    case VarType::kI8:
      return true;
  }
  return false;
}

std::string Hex(uint32_t v) {
  char text[12];
  std::snprintf(text, sizeof text, "%x", v);
  return text;
}

std::string VersionText(uint16_t major, uint16_t minor) { return Hex(major) + "." + Hex(minor); }

class TypeLib;

class TypeInfo final : public ComObject<ITypeInfo> {
 public:
  TypeInfo(TypeLib* lib, uint32_t index);

  HRESULT GetTypeAttr(TypeAttr* attr) noexcept override;
  HRESULT GetFuncDesc(uint32_t index, const FuncDesc** desc) noexcept override {
    if (desc == nullptr) return E_POINTER;
    *desc = nullptr;
    if (index >= type().funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
    *desc = &type().funcs[index];
    return S_OK;
  }
  HRESULT GetRefTypeOfImplType(uint32_t index, uint32_t* ref) noexcept override {
    if (ref == nullptr) return E_POINTER;
    if (index >= type().impl_types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ref = type().impl_types[index].type_index;
    return S_OK;
  }
  HRESULT GetImplTypeFlags(uint32_t index, int32_t* flags) noexcept override {
    if (flags == nullptr) return E_POINTER;
    if (index >= type().impl_types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = type().impl_types[index].flags;
    return S_OK;
  }
  HRESULT GetIDsOfNames(const char* const* names, uint32_t count, DISPID* ids) noexcept override {
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    for (uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const FuncDesc* func = nullptr;
    for (const auto& f : type().funcs) {
      if (SameName(f.name, names[0])) func = &f;
    }
    if (func == nullptr) return DISP_E_UNKNOWNNAME;
    ids[0] = func->memid;
    HRESULT hr = S_OK;
    // Parameter names give their positions.
    for (uint32_t i = 1; i < count; ++i) {
      for (size_t p = 0; p < func->params.size(); ++p) {
        if (SameName(func->params[p].name, names[i])) ids[i] = static_cast<DISPID>(p);
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT GetDocumentation(DISPID memid, std::string* name, std::string* doc,
                           uint32_t* help_context, std::string* help_file) noexcept override;
  HRESULT GetRefTypeInfo(uint32_t ref, ITypeInfo** info) noexcept override;
  HRESULT GetContainingTypeLib(ITypeLib** lib, uint32_t* index) noexcept override;

 private:
  ~TypeInfo() = default;
  const TypeDesc& type() const;

  ComPtr<TypeLib> lib_;
  uint32_t index_;
};

class TypeLib final : public ComObject<ITypeLib> {
 public:
  explicit TypeLib(TypeLibDesc desc) : desc_(std::move(desc)) {}

  uint32_t GetTypeInfoCount() noexcept override {
    return static_cast<uint32_t>(desc_.types.size());
  }
  HRESULT GetTypeInfo(uint32_t index, ITypeInfo** info) noexcept override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index >= desc_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = new (std::nothrow) TypeInfo(this, index);
    return *info == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT GetTypeInfoType(uint32_t index, TypeKind* kind) noexcept override {
    if (kind == nullptr) return E_POINTER;
    if (index >= desc_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = desc_.types[index].kind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(const GUID& guid, ITypeInfo** info) noexcept override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    for (uint32_t i = 0; i < desc_.types.size(); ++i) {
      if (desc_.types[i].guid == guid) return GetTypeInfo(i, info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLibAttr* attr) noexcept override {
    if (attr == nullptr) return E_POINTER;
    *attr = {desc_.libid, desc_.lcid, desc_.major, desc_.minor, desc_.flags};
    return S_OK;
  }
  HRESULT GetDocumentation(int32_t index, std::string* name, std::string* doc,
                           uint32_t* help_context, std::string* help_file) noexcept override {
    if (index != -1 && (index < 0 || static_cast<size_t>(index) >= desc_.types.size())) {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    return Guarded([&] {
      const bool library = index == -1;
      const TypeDesc* type = library ? nullptr : &desc_.types[static_cast<size_t>(index)];
      if (name != nullptr) *name = library ? desc_.name : type->name;
      if (doc != nullptr) *doc = library ? desc_.help_string : type->help_string;
      if (help_context != nullptr) {
        *help_context = library ? desc_.help_context : type->help_context;
      }
      if (help_file != nullptr) *help_file = desc_.help_file;
      return S_OK;
    });
  }

  const TypeLibDesc& desc() const { return desc_; }

 private:
  ~TypeLib() = default;

  TypeLibDesc desc_;
};

TypeInfo::TypeInfo(TypeLib* lib, uint32_t index)
    : lib_(ComPtr<TypeLib>::Share(lib)), index_(index) {}

const TypeDesc& TypeInfo::type() const { return lib_->desc().types[index_]; }

HRESULT TypeInfo::GetTypeAttr(TypeAttr* attr) noexcept {
  if (attr == nullptr) return E_POINTER;
  const TypeDesc& t = type();
  *attr = {t.guid,
           lib_->desc().lcid,
           t.kind,
           static_cast<uint16_t>(t.funcs.size()),
           static_cast<uint16_t>(t.impl_types.size()),
           t.flags};
  return S_OK;
}

HRESULT TypeInfo::GetDocumentation(DISPID memid, std::string* name, std::string* doc,
                                   uint32_t* help_context, std::string* help_file) noexcept {
  if (memid == MEMBERID_NIL) {
    return lib_->GetDocumentation(static_cast<int32_t>(index_), name, doc, help_context, help_file);
  }
  for (const auto& f : type().funcs) {
    if (f.memid != memid) continue;
    return Guarded([&] {
      if (name != nullptr) *name = f.name;
      if (doc != nullptr) doc->clear();
      if (help_context != nullptr) *help_context = 0;
      if (help_file != nullptr) *help_file = lib_->desc().help_file;
      return S_OK;
    });
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetRefTypeInfo(uint32_t ref, ITypeInfo** info) noexcept {
  return lib_->GetTypeInfo(ref, info);
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, uint32_t* index) noexcept {
  if (lib == nullptr) return E_POINTER;
  lib_->AddRef();
  *lib = lib_.get();
  if (index != nullptr) *index = index_;
  return S_OK;
}

class FileTypeLibLoader final : public TypeLibLoader {
 public:
  HRESULT LoadTypeLib(const std::string& path, ITypeLib** out) const noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded([&] {
      auto section = ReadResourceSection(path);
      if (!section) return TYPE_E_CANTLOADLIBRARY;
      auto resources = ResourceSet::Parse(*section);
      if (!resources) return TYPE_E_CANTLOADLIBRARY;
      auto bytes = resources->Find(RT_TYPELIB, 1);
      if (bytes.empty()) return TYPE_E_CANTLOADLIBRARY;
      auto desc = ParseTypeLib(bytes);
      if (!desc) return TYPE_E_INVDATAREAD;
      return CreateTypeLib(std::move(*desc), out);
    });
  }
};

}  // namespace

std::vector<uint8_t> SerializeTypeLib(const TypeLibDesc& lib) {
  ByteWriter out;
  out.PutBytes(kMagic);
  out.Put16(kFormat);
  out.PutText(lib.name);
  out.PutGuid(lib.libid);
  out.Put16(lib.major);
  out.Put16(lib.minor);
  out.Put32(lib.lcid);
  out.Put16(lib.flags);
  out.PutText(lib.help_string);
  out.PutText(lib.help_file);
  out.Put32(lib.help_context);
  out.Put16(static_cast<uint16_t>(lib.imports.size()));
  for (const auto& import : lib.imports) {
    out.PutText(import.file);
    out.PutGuid(import.libid);
    out.Put16(import.major);
    out.Put16(import.minor);
  }
  out.Put16(static_cast<uint16_t>(lib.types.size()));
  for (const auto& type : lib.types) {
    out.Put8(static_cast<uint8_t>(type.kind));
    out.PutText(type.name);
    out.PutGuid(type.guid);
    out.Put16(type.flags);
    out.PutText(type.help_string);
    out.Put32(type.help_context);
    out.Put16(static_cast<uint16_t>(type.funcs.size()));
    for (const auto& f : type.funcs) {
      out.Put32(static_cast<uint32_t>(f.memid));
      out.PutText(f.name);
      out.Put16(static_cast<uint16_t>(f.result));
      out.Put16(static_cast<uint16_t>(f.params.size()));
      for (const auto& p : f.params) {
        out.PutText(p.name);
        out.Put16(static_cast<uint16_t>(p.type));
      }
    }
    out.Put16(static_cast<uint16_t>(type.impl_types.size()));
    for (const auto& impl : type.impl_types) {
      out.Put32(impl.type_index);
      out.Put32(static_cast<uint32_t>(impl.flags));
    }
  }
  return std::move(out.bytes());
}

std::optional<TypeLibDesc> ParseTypeLib(std::span<const uint8_t> bytes) {
  if (bytes.size() < 6 || std::memcmp(bytes.data(), kMagic, 4) != 0) return std::nullopt;
  ByteReader in(bytes.subspan(4));
  uint16_t format = 0;
  TypeLibDesc lib{};
  uint16_t count = 0;
  if (!in.Get16(format) || format != kFormat || !in.GetText(lib.name) || !in.GetGuid(lib.libid) ||
      !in.Get16(lib.major) || !in.Get16(lib.minor) || !in.Get32(lib.lcid) || !in.Get16(lib.flags) ||
      !in.GetText(lib.help_string) || !in.GetText(lib.help_file) || !in.Get32(lib.help_context) ||
      !in.Get16(count)) {
    return std::nullopt;
  }
  lib.imports.resize(count);
  for (auto& import : lib.imports) {
    if (!in.GetText(import.file) || !in.GetGuid(import.libid) || !in.Get16(import.major) ||
        !in.Get16(import.minor)) {
      return std::nullopt;
    }
  }
  if (!in.Get16(count)) return std::nullopt;
  lib.types.resize(count);
  for (auto& type : lib.types) {
    uint8_t kind = 0;
    uint16_t funcs = 0;
    if (!in.Get8(kind) || (kind != static_cast<uint8_t>(TypeKind::kDispatch) &&
                           kind != static_cast<uint8_t>(TypeKind::kCoClass))) {
      return std::nullopt;
    }
    type.kind = static_cast<TypeKind>(kind);
    if (!in.GetText(type.name) || !in.GetGuid(type.guid) || !in.Get16(type.flags) ||
        !in.GetText(type.help_string) || !in.Get32(type.help_context) || !in.Get16(funcs)) {
      return std::nullopt;
    }
    type.funcs.resize(funcs);
    for (auto& f : type.funcs) {
      uint32_t memid = 0;
      uint16_t result = 0, params = 0;
      if (!in.Get32(memid) || !in.GetText(f.name) || !in.Get16(result) || !KnownVarType(result) ||
          !in.Get16(params)) {
        return std::nullopt;
      }
      f.memid = static_cast<DISPID>(memid);
      f.result = static_cast<VarType>(result);
      f.params.resize(params);
      for (auto& p : f.params) {
        uint16_t vt = 0;
        if (!in.GetText(p.name) || !in.Get16(vt) || !KnownVarType(vt)) return std::nullopt;
        p.type = static_cast<VarType>(vt);
      }
    }
    uint16_t impls = 0;
    if (!in.Get16(impls)) return std::nullopt;
    type.impl_types.resize(impls);
    for (auto& impl : type.impl_types) {
      uint32_t flags = 0;
      if (!in.Get32(impl.type_index) || !in.Get32(flags)) return std::nullopt;
      impl.flags = static_cast<int32_t>(flags);
    }
  }
  for (const auto& type : lib.types) {
    for (const auto& impl : type.impl_types) {
      if (impl.type_index >= lib.types.size()) return std::nullopt;
    }
  }
  if (in.left() != 0) return std::nullopt;
  return lib;
}

HRESULT CreateTypeLib(TypeLibDesc desc, ITypeLib** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = new (std::nothrow) TypeLib(std::move(desc));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

const TypeLibLoader& SystemTypeLibLoader() {
  static const FileTypeLibLoader loader;
  return loader;
}

HRESULT RegisterTypeLib(ITypeLib* lib, const std::string& path, const std::string* help_dir,
                        Registry& registry) noexcept {
  if (lib == nullptr) return E_POINTER;
  return Guarded([&] {
    TLibAttr attr{};
    std::string help_string;
    if (HRESULT hr = lib->GetLibAttr(&attr); Failed(hr)) return hr;
    if (HRESULT hr = lib->GetDocumentation(-1, nullptr, &help_string, nullptr, nullptr);
        Failed(hr)) {
      return hr;
    }
    const std::string libid = GuidToString(attr.guid);
    const std::string version = VersionText(attr.major, attr.minor);
    const std::string key = "TypeLib\\" + libid + "\\" + version;
    const std::string file_key = key + "\\" + Hex(attr.lcid) + "\\" + kSysKind;
    std::string folder = help_dir != nullptr ? *help_dir : path.substr(0, path.rfind('/') + 1);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    bool ok = registry.CreateKey(key) == ERROR_SUCCESS &&
              registry.SetValue(key, "", help_string) == ERROR_SUCCESS &&
              registry.CreateKey(file_key) == ERROR_SUCCESS &&
              registry.SetValue(file_key, "", path) == ERROR_SUCCESS &&
              registry.CreateKey(key + "\\FLAGS") == ERROR_SUCCESS &&
              registry.SetValue(key + "\\FLAGS", "", std::to_string(attr.flags)) == ERROR_SUCCESS &&
              registry.CreateKey(key + "\\HELPDIR") == ERROR_SUCCESS &&
              registry.SetValue(key + "\\HELPDIR", "", folder) == ERROR_SUCCESS;
    for (uint32_t i = 0; ok && i < lib->GetTypeInfoCount(); ++i) {
      TypeKind kind{};
      std::string name;
      ComPtr<ITypeInfo> info;
      TypeAttr type{};
      if (Failed(lib->GetTypeInfoType(i, &kind)) || kind != TypeKind::kDispatch) continue;
      if (Failed(lib->GetTypeInfo(i, info.put())) || Failed(info->GetTypeAttr(&type)) ||
          Failed(
              lib->GetDocumentation(static_cast<int32_t>(i), &name, nullptr, nullptr, nullptr))) {
        return TYPE_E_REGISTRYACCESS;
      }
      const std::string iface = "Interface\\" + GuidToString(type.guid);
      ok = registry.CreateKey(iface) == ERROR_SUCCESS &&
           registry.SetValue(iface, "", name) == ERROR_SUCCESS &&
           registry.CreateKey(iface + "\\ProxyStubClsid32") == ERROR_SUCCESS &&
           registry.SetValue(iface + "\\ProxyStubClsid32", "", GuidToString(CLSID_PSDispatch)) ==
               ERROR_SUCCESS &&
           registry.CreateKey(iface + "\\TypeLib") == ERROR_SUCCESS &&
           registry.SetValue(iface + "\\TypeLib", "", libid) == ERROR_SUCCESS &&
           registry.SetValue(iface + "\\TypeLib", "Version", version) == ERROR_SUCCESS;
    }
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
  });
}

HRESULT UnRegisterTypeLib(const GUID& libid, uint16_t major, uint16_t minor,
                          Registry& registry) noexcept {
  return Guarded([&] {
    const std::string lib_key = "TypeLib\\" + GuidToString(libid);
    const std::string version = VersionText(major, minor);
    auto done = [](LSTATUS s) { return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND; };

    std::vector<std::string> interfaces;
    LSTATUS listed = registry.EnumKeys("Interface", &interfaces);
    if (!done(listed)) return TYPE_E_REGISTRYACCESS;
    for (const auto& iid : interfaces) {
      const std::string key = "Interface\\" + iid + "\\TypeLib";
      std::string owner, owner_version;
      if (registry.QueryValue(key, "", &owner) != ERROR_SUCCESS ||
          registry.QueryValue(key, "Version", &owner_version) != ERROR_SUCCESS ||
          ParseGuid(owner) != libid || owner_version != version) {
        continue;
      }
      if (!done(registry.DeleteTree("Interface\\" + iid))) return TYPE_E_REGISTRYACCESS;
    }
    if (!done(registry.DeleteTree(lib_key + "\\" + version))) return TYPE_E_REGISTRYACCESS;
    // The library's key goes with its last version.
    std::vector<std::string> versions;
    if (registry.EnumKeys(lib_key, &versions) == ERROR_SUCCESS && versions.empty() &&
        !done(registry.DeleteTree(lib_key))) {
      return TYPE_E_REGISTRYACCESS;
    }
    return S_OK;
  });
}

HRESULT LoadRegTypeLib(const GUID& libid, uint16_t major, uint16_t minor, LCID lcid,
                       const Registry& registry, const TypeLibLoader& loader,
                       ITypeLib** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  return Guarded([&] {
    const std::string key = "TypeLib\\" + GuidToString(libid) + "\\" + VersionText(major, minor);
    std::vector<std::string> subkeys;
    if (registry.EnumKeys(key, &subkeys) != ERROR_SUCCESS) return TYPE_E_LIBNOTREGISTERED;
    std::vector<std::string> candidates = {Hex(lcid), Hex(lcid & 0x3FF), "0"};
    for (const auto& k : subkeys) {
      if (!k.empty() && k.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        candidates.push_back(k);
      }
    }
    for (const auto& locale : candidates) {
      std::string path;
      if (registry.QueryValue(key + "\\" + locale + "\\" + kSysKind, "", &path) == ERROR_SUCCESS) {
        return loader.LoadTypeLib(path, out);
      }
    }
    return TYPE_E_LIBNOTREGISTERED;
  });
}

}  // namespace tarvona::com
