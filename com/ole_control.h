#pragma once

// The interfaces between a control and its container beyond dispatch:
// persistence through a property bag, property pages, and a site through
// which a windowless control paints and asks for its size. Interfaces named
// as COM names them keep COM's IIDs and method order, with automation
// values as com::Variant and without the error-log argument; the
// control/site pair (IControlObject, IControlSite) and IPropertyPageDialog
// are this platform's own, in place of the window-based OLE interfaces.

#include <cstdint>
#include <string>
#include <vector>

#include "com/com.h"
#include "com/drawing.h"

namespace tarvona::com {

class IPropertyBag : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
  // On entry `value` holds the type wanted (monostate: any); the bag
  // converts or fails. E_INVALIDARG when there is no such property.
  virtual HRESULT Read(const char* name, Variant* value) noexcept = 0;
  virtual HRESULT Write(const char* name, const Variant* value) noexcept = 0;

 protected:
  ~IPropertyBag() = default;
};

class IPersist : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT GetClassID(CLSID* clsid) noexcept = 0;

 protected:
  ~IPersist() = default;
};

class IPersistPropertyBag : public IPersist {
 public:
  static constexpr IID kIid = {
      0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
  // Back to the state of a new object.
  virtual HRESULT InitNew() noexcept = 0;
  virtual HRESULT Load(IPropertyBag* bag) noexcept = 0;
  virtual HRESULT Save(IPropertyBag* bag, bool clear_dirty, bool save_all) noexcept = 0;

 protected:
  ~IPersistPropertyBag() = default;
};

// A counted array of GUIDs; `elements` comes from CoTaskMemAlloc and the
// receiver frees it.
struct CAUUID {
  ULONG count;
  GUID* elements;
};

class ISpecifyPropertyPages : public IUnknown {
 public:
  static constexpr IID kIid = {
      0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
  virtual HRESULT GetPages(CAUUID* pages) noexcept = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};

// The container's side of one control.
class IControlSite : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x4FC0A984, 0x485A, 0x49D2, {0x9B, 0xDC, 0xF7, 0xD8, 0x42, 0x49, 0x64, 0xB1}};
  // The control asks for this extent (HIMETRIC); the container may refuse.
  virtual HRESULT RequestExtent(const SizeL& himetric) noexcept = 0;
  // The control's picture is stale and wants painting again.
  virtual HRESULT InvalidateControl() noexcept = 0;

 protected:
  ~IControlSite() = default;
};

// The control's side toward its container.
class IControlObject : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x78ED7714, 0x1723, 0x4939, {0xB9, 0xA8, 0xEA, 0x17, 0x00, 0x29, 0x95, 0x6C}};
  // Given first, before anything else is asked of the control.
  virtual HRESULT SetClientSite(IControlSite* site) noexcept = 0;
  // The OLEMISC_ bits of the content aspect.
  virtual HRESULT GetMiscStatus(uint32_t* status) noexcept = 0;
  virtual HRESULT GetExtent(SizeL* himetric) noexcept = 0;
  virtual HRESULT SetExtent(const SizeL& himetric) noexcept = 0;
  // Paints into `target`, where the container placed the control at `bounds`.
  virtual HRESULT Draw(DrawingSurface* target, const RectL* bounds) noexcept = 0;

 protected:
  ~IControlObject() = default;
};

struct DialogItem {
  std::string window_class;  // "STATIC", ...
  std::string text;
  uint16_t id;
  uint32_t style;
  int16_t x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
  std::string caption;
  uint32_t style;
  int16_t cx, cy;  // dialog units
  std::string font;
  uint16_t point_size;
  std::vector<DialogItem> items;
};

// A property page as a host without windows can use it.
class IPropertyPageDialog : public IUnknown {
 public:
  static constexpr IID kIid = {
      0x7F988098, 0xE54A, 0x44C6, {0x93, 0xCC, 0x8B, 0xD1, 0xA0, 0x39, 0x29, 0x28}};
  virtual HRESULT GetDialog(DialogTemplate* dialog) noexcept = 0;
  // The objects the page edits; the page holds them until told others.
  virtual HRESULT SetObjects(ULONG count, IUnknown* const* objects) noexcept = 0;
  virtual HRESULT Apply() noexcept = 0;
  // S_OK when the page has changes to apply, else S_FALSE.
  virtual HRESULT IsPageDirty() noexcept = 0;

 protected:
  ~IPropertyPageDialog() = default;
};

// A property bag in memory, in the order values were first written; names
// compare case-insensitively. Reads convert as ChangeType does.
class MemoryPropertyBag final : public IPropertyBag {
 public:
  MemoryPropertyBag() = default;

  HRESULT QueryInterface(const IID& iid, void** out) noexcept override;
  // Lives on the stack of its user: counting only.
  ULONG AddRef() noexcept override { return 2; }
  ULONG Release() noexcept override { return 1; }
  HRESULT Read(const char* name, Variant* value) noexcept override;
  HRESULT Write(const char* name, const Variant* value) noexcept override;

  const std::vector<std::pair<std::string, Variant>>& values() const { return values_; }

 private:
  std::vector<std::pair<std::string, Variant>> values_;
};

}  // namespace tarvona::com
