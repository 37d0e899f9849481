// The control's property page: dialog 200 with its one line of text,
// titled by string 200. It changes nothing on the control.
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <vector>

#include "com_objects.h"
#include "ocx_module.h"

namespace tarvona::ocx {
namespace {

INT_PTR CALLBACK PageDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  // Focus goes where the dialog manager puts it; nothing else is handled.
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

class PropertyPage final : public RefCounted<PropertyPage, IPropertyPage> {
 public:
  PropertyPage() = default;
  ~PropertyPage() {
    if (window_ != nullptr) DestroyWindow(window_);
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
    window_ = CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(identity::kIddPage), parent,
                                 PageDialogProc, 0);
    if (window_ == nullptr) return E_OUTOFMEMORY;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               TRUE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Deactivate() override {
    if (window_ == nullptr) return E_UNEXPECTED;
    DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override {
    if (info == nullptr) return E_POINTER;
    const std::wstring title = LoadModuleString(identity::kIdsPageCaption);
    const size_t bytes = (title.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::copy(title.c_str(), title.c_str() + title.size() + 1, copy);
    // Dialog 200 is 250 x 62 dialog units.
    const LONG base = GetDialogBaseUnits();
    info->cb = sizeof *info;
    info->pszTitle = copy;
    info->size = {MulDiv(250, LOWORD(base), 4), MulDiv(62, HIWORD(base), 8)};
    info->pszDocString = nullptr;
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
    ShowWindow(window_, static_cast<int>(command));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override {
    if (rect == nullptr) return E_POINTER;
    if (window_ == nullptr) return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               TRUE);
    return S_OK;
  }
  // Nothing is exchanged, so nothing is ever dirty or applied.
  HRESULT STDMETHODCALLTYPE IsPageDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Apply() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override {
    if (message == nullptr) return E_POINTER;
    return window_ != nullptr && IsDialogMessageW(window_, message) ? S_OK : S_FALSE;
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
