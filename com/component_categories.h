#pragma once

// The component categories manager and the way it is obtained: a class of
// the system's own that CoCreateInstance would create. It keeps categories
// in the registry as Windows does:
//   Component Categories\{CATID}                     "409" = description
//   CLSID\{CLSID}\Implemented Categories\{CATID}
//   CLSID\{CLSID}\Required Categories\{CATID}

#include <cstdint>

#include "com/com.h"
#include "com/registry.h"

namespace tarvona::com {

inline constexpr CLSID CLSID_StdComponentCategoriesMgr = {
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct CATEGORYINFO {
  CATID catid;
  LCID lcid;
  char16_t szDescription[128];
};

class ICatRegister : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT RegisterCategories(ULONG count, const CATEGORYINFO* infos) noexcept = 0;
  virtual HRESULT UnRegisterCategories(ULONG count, const CATID* catids) noexcept = 0;
  virtual HRESULT RegisterClassImplCategories(const CLSID& clsid, ULONG count,
                                              const CATID* catids) noexcept = 0;
  virtual HRESULT UnRegisterClassImplCategories(const CLSID& clsid, ULONG count,
                                                const CATID* catids) noexcept = 0;
  virtual HRESULT RegisterClassReqCategories(const CLSID& clsid, ULONG count,
                                             const CATID* catids) noexcept = 0;
  virtual HRESULT UnRegisterClassReqCategories(const CLSID& clsid, ULONG count,
                                               const CATID* catids) noexcept = 0;

 protected:
  ~ICatRegister() = default;
};
inline constexpr IID IID_ICatRegister = ICatRegister::kIid;

// Creates objects of the system's classes by CLSID, as CoCreateInstance
// does for them. Callers get it injected, so a test can make creation fail.
class ComClassCreator {
 public:
  virtual ~ComClassCreator() = default;
  virtual HRESULT CreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context,
                                 const IID& iid, void** out) noexcept = 0;
};

// Knows CLSID_StdComponentCategoriesMgr, working on `registry`; any other
// class is REGDB_E_CLASSNOTREG. The registry must outlive what it creates.
class SystemClassCreator final : public ComClassCreator {
 public:
  explicit SystemClassCreator(Registry& registry) : registry_(registry) {}
  HRESULT CreateInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid,
                         void** out) noexcept override;

 private:
  Registry& registry_;
};

}  // namespace tarvona::com
