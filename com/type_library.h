#pragma once

// Type libraries: the description of a module's classes and interfaces that
// automation hosts read. The library lives in the module file as resource
// TYPELIB 1 (platform/module_resources.h) and is read from the file without
// running the module. The interfaces below are the part of ITypeLib and
// ITypeInfo that hosts use here, in COM's order; descriptions are copied out
// or lent for the life of the interface rather than allocated per call.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "com/com.h"
#include "com/registry.h"
#include "com/variant.h"

namespace tarvona::com {

enum class TypeKind : uint8_t { kDispatch = 4, kCoClass = 5 };  // TKIND_ values

inline constexpr uint16_t LIBFLAG_FCONTROL = 0x2;
inline constexpr uint16_t TYPEFLAG_FCANCREATE = 0x2;
inline constexpr uint16_t TYPEFLAG_FHIDDEN = 0x10;
inline constexpr uint16_t TYPEFLAG_FCONTROL = 0x20;
inline constexpr uint16_t TYPEFLAG_FDISPATCHABLE = 0x1000;
inline constexpr int32_t IMPLTYPEFLAG_FDEFAULT = 0x1;
inline constexpr int32_t IMPLTYPEFLAG_FSOURCE = 0x2;
inline constexpr DISPID MEMBERID_NIL = -1;
// The proxy of every dispatch interface (PSDispatch).
inline constexpr CLSID CLSID_PSDispatch = {
    0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ParamDesc {
  std::string name;
  VarType type;
};

// A method of a dispatch interface; every parameter is an in-parameter.
struct FuncDesc {
  DISPID memid;
  std::string name;
  VarType result;
  std::vector<ParamDesc> params;
};

struct ImplTypeDesc {
  uint32_t type_index;  // a type of the same library
  int32_t flags;        // IMPLTYPEFLAG_
};

struct TypeDesc {
  TypeKind kind;
  std::string name;
  GUID guid;
  uint16_t flags;  // TYPEFLAG_
  std::string help_string;
  uint32_t help_context = 0;
  std::vector<FuncDesc> funcs;           // dispatch interfaces
  std::vector<ImplTypeDesc> impl_types;  // classes
};

struct ImportedLib {
  std::string file;
  GUID libid;
  uint16_t major;
  uint16_t minor;
};

struct TypeLibDesc {
  std::string name;
  GUID libid;
  uint16_t major;
  uint16_t minor;
  LCID lcid;
  uint16_t flags;  // LIBFLAG_
  std::string help_string;
  std::string help_file;
  uint32_t help_context = 0;
  std::vector<ImportedLib> imports;
  std::vector<TypeDesc> types;
};

// The form kept in module files ("TVTL", a format version, then the fields
// in declaration order). Parsing refuses anything malformed, truncated or
// followed by extra bytes, and implementation types that name no type.
std::vector<uint8_t> SerializeTypeLib(const TypeLibDesc& lib);
std::optional<TypeLibDesc> ParseTypeLib(std::span<const uint8_t> bytes);

struct TLibAttr {
  GUID guid;
  LCID lcid;
  uint16_t major;
  uint16_t minor;
  uint16_t flags;
};

struct TypeAttr {
  GUID guid;
  LCID lcid;
  TypeKind kind;
  uint16_t func_count;
  uint16_t impl_type_count;
  uint16_t flags;
};

class ITypeLib;

class ITypeInfo : public IUnknown {
 public:
  static constexpr IID kIid = {
      0xE6999337, 0x9C7E, 0x46E7, {0xAD, 0x2A, 0xF3, 0x78, 0x41, 0x17, 0x46, 0x72}};
  virtual HRESULT GetTypeAttr(TypeAttr* attr) noexcept = 0;
  // Lent: valid while this interface lives.
  virtual HRESULT GetFuncDesc(uint32_t index, const FuncDesc** desc) noexcept = 0;
  // The reference is the index of the type in the library.
  virtual HRESULT GetRefTypeOfImplType(uint32_t index, uint32_t* ref) noexcept = 0;
  virtual HRESULT GetImplTypeFlags(uint32_t index, int32_t* flags) noexcept = 0;
  virtual HRESULT GetIDsOfNames(const char* const* names, uint32_t count, DISPID* ids) noexcept = 0;
  // MEMBERID_NIL documents the type itself. Null out-pointers are skipped.
  virtual HRESULT GetDocumentation(DISPID memid, std::string* name, std::string* doc,
                                   uint32_t* help_context, std::string* help_file) noexcept = 0;
  virtual HRESULT GetRefTypeInfo(uint32_t ref, ITypeInfo** info) noexcept = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, uint32_t* index) noexcept = 0;

 protected:
  ~ITypeInfo() = default;
};

class ITypeLib : public IUnknown {
 public:
  static constexpr IID kIid = {
      0xEE9E29AF, 0xDB60, 0x47D5, {0x80, 0x88, 0x36, 0x69, 0xA1, 0x8D, 0x6E, 0x08}};
  virtual uint32_t GetTypeInfoCount() noexcept = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, ITypeInfo** info) noexcept = 0;
  virtual HRESULT GetTypeInfoType(uint32_t index, TypeKind* kind) noexcept = 0;
  virtual HRESULT GetTypeInfoOfGuid(const GUID& guid, ITypeInfo** info) noexcept = 0;
  virtual HRESULT GetLibAttr(TLibAttr* attr) noexcept = 0;
  // Index -1 documents the library itself.
  virtual HRESULT GetDocumentation(int32_t index, std::string* name, std::string* doc,
                                   uint32_t* help_context, std::string* help_file) noexcept = 0;

 protected:
  ~ITypeLib() = default;
};

// A library object over a description.
HRESULT CreateTypeLib(TypeLibDesc desc, ITypeLib** out) noexcept;

// How LoadTypeLib reaches a library by file name; tests put their own in.
class TypeLibLoader {
 public:
  virtual ~TypeLibLoader() = default;
  virtual HRESULT LoadTypeLib(const std::string& path, ITypeLib** out) const noexcept = 0;
};
// Reads resource TYPELIB 1 of a module file: TYPE_E_CANTLOADLIBRARY when
// the file or the resource is missing, TYPE_E_INVDATAREAD when it is
// malformed.
const TypeLibLoader& SystemTypeLibLoader();

// What RegisterTypeLib writes:
//   TypeLib\{LIBID}\<maj>.<min>               @ = library help string
//   TypeLib\{LIBID}\<maj>.<min>\<lcid>\linux64 @ = path   (lcid in hex)
//   TypeLib\{LIBID}\<maj>.<min>\FLAGS          @ = library flags, decimal
//   TypeLib\{LIBID}\<maj>.<min>\HELPDIR        @ = help folder (the path's
//                                                  folder when none is given)
//   Interface\{IID}                 @ = name        (each dispatch interface)
//   Interface\{IID}\ProxyStubClsid32 @ = {PSDispatch}
//   Interface\{IID}\TypeLib          @ = {LIBID}, "Version" = <maj>.<min>
// Failures are TYPE_E_REGISTRYACCESS.
HRESULT RegisterTypeLib(ITypeLib* lib, const std::string& path, const std::string* help_dir,
                        Registry& registry) noexcept;
// Removes that version's registration (every locale) and the interface
// entries that name it. A registration already absent counts as removed.
HRESULT UnRegisterTypeLib(const GUID& libid, uint16_t major, uint16_t minor,
                          Registry& registry) noexcept;
// Loads the library registered for that version: the exact locale first,
// then its primary language, then neutral (0), then any.
// TYPE_E_LIBNOTREGISTERED when there is none.
HRESULT LoadRegTypeLib(const GUID& libid, uint16_t major, uint16_t minor, LCID lcid,
                       const Registry& registry, const TypeLibLoader& loader,
                       ITypeLib** out) noexcept;

}  // namespace tarvona::com
