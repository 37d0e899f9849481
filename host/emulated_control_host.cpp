#include "host/emulated_control_host.h"

#include <memory>
#include <vector>

#include "com/classes_root.h"
#include "com/hresult.h"
#include "com/ole_control.h"
#include "com/type_library.h"
#include "com/variant.h"
#include "host/platform_host.h"
#include "host/png_writer.h"
#include "platform/dynamic_library.h"

namespace tarvona::host {
namespace {

using com::ComPtr;
using com::HRESULT;

template <typename Interface>
HRESULT Ask(com::IDispatch& object, ComPtr<Interface>* out) {
  return object.QueryInterface(Interface::kIid, out->put_void());
}

// The container's side of one control. It keeps no picture, so a stale
// picture needs nothing, and it keeps the size the host asked for, so size
// requests are declined.
class Site final : public com::ComObject<com::IControlSite> {
 public:
  HRESULT RequestExtent(const com::SizeL&) noexcept override { return com::S_FALSE; }
  HRESULT InvalidateControl() noexcept override { return com::S_OK; }

 private:
  ~Site() = default;
};

class EmulatedControl final : public HostedControl {
 public:
  EmulatedControl(ComActivator& activator, ComPtr<com::IDispatch> dispatch, ComPtr<Site> site)
      : activator_(activator), dispatch_(std::move(dispatch)), site_(std::move(site)) {}

  Status DispIdOf(const std::string& name, int32_t* dispid) override {
    const char* names[] = {name.c_str()};
    return dispatch_->GetIDsOfNames(com::IID_NULL, names, 1, com::LOCALE_USER_DEFAULT, dispid);
  }

  Status Invoke(int32_t dispid, std::span<const Value> args, Value* result,
                uint32_t* arg_error) override {
    const com::DispParams params{args.data(), static_cast<uint32_t>(args.size()), nullptr, 0};
    return dispatch_->Invoke(dispid, com::IID_NULL, com::LOCALE_USER_DEFAULT, com::DISPATCH_METHOD,
                             &params, result, nullptr, arg_error);
  }

  std::optional<MethodInfo> Describe(int32_t dispid) override {
    ComPtr<com::ITypeInfo> info;
    if (com::Failed(dispatch_->GetTypeInfo(0, com::LOCALE_USER_DEFAULT, info.put()))) {
      return std::nullopt;
    }
    const com::FuncDesc* func = nullptr;
    for (uint32_t i = 0; com::Succeeded(info->GetFuncDesc(i, &func)); ++i) {
      if (func->memid != dispid) continue;
      MethodInfo method{func->name, func->result, {}};
      for (const auto& param : func->params) method.params.push_back({param.name, param.type});
      return method;
    }
    return std::nullopt;
  }

  std::optional<int32_t> AsInt32(const Value& value) override {
    com::Variant converted;
    if (com::Failed(com::ChangeType(value, com::VarType::kI4, &converted))) return std::nullopt;
    return std::get<int32_t>(converted);
  }

  Outcome Save(Properties* properties) override {
    ComPtr<com::IPersistPropertyBag> persist;
    if (HRESULT hr = Ask(*dispatch_, &persist); com::Failed(hr)) {
      return {hr, "the object does not save to a property bag"};
    }
    com::MemoryPropertyBag bag;
    if (HRESULT hr = persist->Save(&bag, true, true); com::Failed(hr)) {
      return {hr, "saving failed"};
    }
    for (const auto& [name, value] : bag.values()) properties->emplace_back(name, value);
    return {};
  }

  Outcome Load(const Properties& properties) override {
    ComPtr<com::IPersistPropertyBag> persist;
    if (HRESULT hr = Ask(*dispatch_, &persist); com::Failed(hr)) {
      return {hr, "the object does not load from a property bag"};
    }
    com::MemoryPropertyBag bag;
    for (const auto& [name, value] : properties) bag.Write(name.c_str(), &value);
    if (HRESULT hr = persist->Load(&bag); com::Failed(hr)) return {hr, "loading failed"};
    return {};
  }

  Outcome Reset() override {
    ComPtr<com::IPersistPropertyBag> persist;
    HRESULT hr = Ask(*dispatch_, &persist);
    if (com::Succeeded(hr)) hr = persist->InitNew();
    if (com::Failed(hr)) return {hr, "the object cannot be reset"};
    return {};
  }

  Outcome Draw(int32_t width, int32_t height, std::vector<uint8_t>* png) override {
    ComPtr<com::IControlObject> control;
    if (HRESULT hr = Ask(*dispatch_, &control); com::Failed(hr)) {
      return {hr, "the object does not draw"};
    }
    com::MemorySurface surface(width, height, {255, 255, 255});
    const com::RectL bounds{0, 0, width, height};
    if (HRESULT hr = control->Draw(&surface, &bounds); com::Failed(hr)) {
      return {hr, "drawing failed"};
    }
    *png = EncodePng(surface);
    if (png->empty()) return {com::E_OUTOFMEMORY, "the picture could not be encoded"};
    return {};
  }

  Outcome Pages(std::vector<PropertyPageText>* pages) override {
    ComPtr<com::ISpecifyPropertyPages> page_list;
    if (HRESULT hr = Ask(*dispatch_, &page_list); com::Failed(hr)) {
      return {hr, "the object has no property pages"};
    }
    com::CAUUID ids{};
    if (HRESULT hr = page_list->GetPages(&ids); com::Failed(hr)) {
      return {hr, "the object did not list its pages"};
    }
    std::unique_ptr<com::GUID, decltype(&com::CoTaskMemFree)> owned(ids.elements,
                                                                    &com::CoTaskMemFree);
    for (com::ULONG i = 0; i < ids.count; ++i) {
      ComPtr<com::IPropertyPageDialog> page;
      HRESULT hr = activator_.CreateInstance(ids.elements[i], com::IPropertyPageDialog::kIid,
                                             page.put_void());
      com::DialogTemplate dialog;
      com::IUnknown* edited[] = {dispatch_.get()};
      if (com::Succeeded(hr)) hr = page->SetObjects(1, edited);
      if (com::Succeeded(hr)) hr = page->GetDialog(&dialog);
      if (page) page->SetObjects(0, nullptr);
      if (com::Failed(hr)) {
        return {hr, "cannot show page " + com::GuidToString(ids.elements[i])};
      }
      PropertyPageText text{com::GuidToString(ids.elements[i]), dialog.caption, {}};
      for (const auto& item : dialog.items) text.text.push_back(item.text);
      pages->push_back(std::move(text));
    }
    return {};
  }

 private:
  ComActivator& activator_;
  ComPtr<com::IDispatch> dispatch_;
  ComPtr<Site> site_;
};

// The registration record as tarvona-regsvr writes it: the user's classes
// file first, then the machine's.
class RecordControls final : public PlatformControls {
 public:
  ControlHost& host() override { return host_; }

 private:
  const com::ClassesRoot registry_;
  ComActivator activator_{registry_, platform::SystemLibraryLoader()};
  EmulatedControlHost host_{activator_};
};

}  // namespace

std::unique_ptr<PlatformControls> OpenPlatformControls() {
  return std::make_unique<RecordControls>();
}

std::string_view StatusName(Status s) { return com::HresultName(s); }

Outcome EmulatedControlHost::Create(const std::string& prog_id, const std::string* origin,
                                    int hangup, std::unique_ptr<HostedControl>* control) {
  com::CLSID clsid{};
  ComPtr<com::IDispatch> dispatch;
  HRESULT hr = activator_.ClsidFromProgId(prog_id, &clsid);
  if (com::Succeeded(hr)) {
    hr = activator_.CreateInstance(clsid, com::IID_IDispatch, dispatch.put_void());
  }
  if (hr == com::REGDB_E_CLASSNOTREG) return {hr, "class not registered: " + prog_id};
  if (com::Failed(hr)) return {hr, "cannot create " + prog_id};

  // The site comes first, then the control starts out new.
  auto site = ComPtr<Site>::Adopt(new Site());
  ComPtr<com::IControlObject> object;
  if (com::Succeeded(Ask(*dispatch, &object))) object->SetClientSite(site.get());
  ComPtr<com::IPersistPropertyBag> persist;
  if (com::Succeeded(Ask(*dispatch, &persist))) persist->InitNew();
  // The page it works for, which the control's dialogs name.
  ComPtr<com::IControlCaller> caller;
  if (origin != nullptr && com::Succeeded(Ask(*dispatch, &caller))) {
    caller->SetCaller(origin->c_str(), hangup);
  }
  *control = std::make_unique<EmulatedControl>(activator_, std::move(dispatch), std::move(site));
  return {};
}

}  // namespace tarvona::host
