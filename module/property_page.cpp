// The control's property page: dialog 200 with its one line of text
// (ocx_platform.h), titled by string 200. It changes nothing on the control.
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <vector>

#include "module/com_objects.h"
#include "module/ocx_module.h"

namespace tarvona::ocx {
namespace {

class PropertyPage final : public RefCounted<PropertyPage, IPropertyPage> {
 public:
  PropertyPage() = default;
  ~PropertyPage() {
    if (window_ != nullptr) DestroyPageWindow(window_);
    ReleaseObjects();
  }
  PropertyPage(const PropertyPage&) = delete;
  PropertyPage& operator=(const PropertyPage&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    static constexpr InterfaceEntry<PropertyPage> kTable[] = {
        {&IID_IUnknown, [](PropertyPage* p) -> void* { return p; }},
        {&IID_IPropertyPage, [](PropertyPage* p) -> void* { return p; }},
    };
    return QueryFromTable(this, kTable, iid, out);
  }

  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override {
    site_.Reset(site);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL) override {
    if (rect == nullptr) return E_POINTER;
    if (window_ != nullptr) return E_UNEXPECTED;
    window_ = CreatePageWindow(parent);
    if (window_ == nullptr) return E_OUTOFMEMORY;
    PlacePageWindow(window_, *rect);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Deactivate() override {
    if (window_ == nullptr) return E_UNEXPECTED;
    DestroyPageWindow(window_);
    window_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
    if (info == nullptr) return E_POINTER;
    LPOLESTR copy = TaskMemoryCopy(LoadModuleString(identity::kIdsPageCaption));
    if (copy == nullptr) return E_OUTOFMEMORY;
    info->cb = sizeof *info;
    info->pszTitle = copy;
    info->size = PageSize();
    // The page's one line of text, for hosts that show no window.
    info->pszDocString = TaskMemoryCopy(ToOleString(identity::kPageText));
    if (info->pszDocString == nullptr) {
      CoTaskMemFree(copy);
      info->pszTitle = nullptr;
      return E_OUTOFMEMORY;
    }
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override {
    if (count > 0 && objects == nullptr) return E_POINTER;
    try {
      std::vector<IUnknown*> held(objects, objects + count);
      for (IUnknown* object : held) {
        if (object != nullptr) object->AddRef();
      }
      ReleaseObjects();
      objects_.swap(held);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Show(UINT command) override {
    if (window_ == nullptr) return E_UNEXPECTED;
    ShowPageWindow(window_, command);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
    if (rect == nullptr) return E_POINTER;
    if (window_ == nullptr) return E_UNEXPECTED;
    PlacePageWindow(window_, *rect);
    return S_OK;
  }
  // Nothing is exchanged, so nothing is ever dirty or applied.
  HRESULT STDMETHODCALLTYPE IsPageDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Apply() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override {
    if (message == nullptr) return E_POINTER;
    return window_ != nullptr && PageWindowTakesMessage(window_, message) ? S_OK : S_FALSE;
  }

 private:
  void ReleaseObjects() {
    for (IUnknown* object : objects_) {
      if (object != nullptr) object->Release();
    }
    objects_.clear();
  }

  ModuleLock lock_;
  Held<IPropertyPageSite> site_;
  std::vector<IUnknown*> objects_;
  HWND window_ = nullptr;
};

}  // namespace

IUnknown* CreatePropertyPageObject() {
  try {
    return new PropertyPage;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace tarvona::ocx
