// The advise holder and the registry's verbs.
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include <objbase.h>

#include "linux/com/single_interface.h"
#include <ole2.h>
#include <winreg.h>

namespace {

class AdviseHolder final : public tarvona::linux_com::SingleInterface<IOleAdviseHolder> {
 public:
  AdviseHolder() : SingleInterface(IID_IOleAdviseHolder) {}

  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override {
    if (connection != nullptr) *connection = 0;
    if (sink == nullptr || connection == nullptr) return E_INVALIDARG;
    try {
      // A free slot first, so connections stay small.
      size_t slot = 0;
      while (slot < sinks_.size() && sinks_[slot] != nullptr) ++slot;
      if (slot == sinks_.size()) sinks_.push_back(nullptr);
      sink->AddRef();
      sinks_[slot] = sink;
      *connection = static_cast<DWORD>(slot + 1);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override {
    if (connection == 0 || connection > sinks_.size() || sinks_[connection - 1] == nullptr) {
      return OLE_E_NOCONNECTION;
    }
    IAdviseSink* sink = sinks_[connection - 1];
    sinks_[connection - 1] = nullptr;
    sink->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override {
    if (advises != nullptr) *advises = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SendOnRename(IMoniker* moniker) override {
    return Send([&](IAdviseSink* sink) { sink->OnRename(moniker); });
  }
  HRESULT STDMETHODCALLTYPE SendOnSave() override {
    return Send([](IAdviseSink* sink) { sink->OnSave(); });
  }
  HRESULT STDMETHODCALLTYPE SendOnClose() override {
    return Send([](IAdviseSink* sink) { sink->OnClose(); });
  }

 private:
  ~AdviseHolder() override {
    for (IAdviseSink* sink : sinks_) {
      if (sink != nullptr) sink->Release();
    }
  }
  template <typename Call>
  HRESULT Send(Call call) {
    // By index: a sink may unadvise while it is told.
    for (size_t i = 0; i < sinks_.size(); ++i) {
      if (IAdviseSink* sink = sinks_[i]) {
        sink->AddRef();
        call(sink);
        sink->Release();
      }
    }
    return S_OK;
  }

  std::vector<IAdviseSink*> sinks_;
};

}  // namespace

extern "C" HRESULT CreateOleAdviseHolder(IOleAdviseHolder** holder) {
  if (holder == nullptr) return E_INVALIDARG;
  *holder = new (std::nothrow) AdviseHolder;
  return *holder == nullptr ? E_OUTOFMEMORY : S_OK;
}

extern "C" HRESULT OleRegEnumVerbs(REFCLSID clsid, IEnumOLEVERB** verbs) {
  if (verbs == nullptr) return E_INVALIDARG;
  *verbs = nullptr;
  OLECHAR text[39];
  if (StringFromGUID2(clsid, text, 39) != 39) return E_UNEXPECTED;
  const std::u16string path = u"CLSID\\" + std::u16string(text) + u"\\Verb";
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  if (status == ERROR_FILE_NOT_FOUND) return OLEOBJ_E_NOVERBS;
  if (status != ERROR_SUCCESS) return REGDB_E_READREGDB;
  RegCloseKey(key);
  return E_NOTIMPL;
}
