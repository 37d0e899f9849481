// Type information made from an INTERFACEDATA table: an interface whose
// functions are the table's methods, with copies of their names. What it
// gives out (TYPEATTR, FUNCDESC, names) is the caller's until released.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include <oleauto.h>

#include "linux/com/single_interface.h"

namespace {

struct Method {
  std::u16string name;
  std::vector<std::u16string> param_names;
  std::vector<VARTYPE> param_types;
  METHODDATA data;  // the caller's entry, its pointers cleared: the copies are above
};

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameName(const std::u16string& name, LPCOLESTR other) {
  size_t i = 0;
  for (; i < name.size(); ++i) {
    if (other[i] == 0 || Lower(name[i]) != Lower(other[i])) return false;
  }
  return other[i] == 0;
}

BSTR Copy(const std::u16string& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

class DispTypeInfo final : public tarvona::linux_com::SingleInterface<ITypeInfo> {
 public:
  DispTypeInfo(std::vector<Method> methods, LCID lcid)
      : SingleInterface(IID_ITypeInfo), methods_(std::move(methods)), lcid_(lcid) {}

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attributes) override {
    if (attributes == nullptr) return E_INVALIDARG;
    *attributes = new (std::nothrow) TYPEATTR{};
    if (*attributes == nullptr) return E_OUTOFMEMORY;
    TYPEATTR& a = **attributes;
    a.guid = GUID_NULL;
    a.lcid = lcid_;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.cbSizeInstance = sizeof(void*);
    a.typekind = TKIND_INTERFACE;
    a.cFuncs = static_cast<WORD>(methods_.size());
    UINT slots = 0;
    for (const Method& m : methods_) slots = std::max(slots, m.data.iMeth + 1);
    a.cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
    a.cbAlignment = alignof(void*);
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }

  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** func) override {
    if (func == nullptr) return E_INVALIDARG;
    *func = nullptr;
    if (index >= methods_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const Method& m = methods_[index];
    auto* desc = new (std::nothrow) FUNCDESC{};
    ELEMDESC* params = new (std::nothrow) ELEMDESC[m.param_types.size()]{};
    if (desc == nullptr || params == nullptr) {
      delete desc;
      delete[] params;
      return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < m.param_types.size(); ++i) params[i].tdesc.vt = m.param_types[i];
    desc->memid = m.data.dispid;
    desc->lprgelemdescParam = params;
    desc->funckind = FUNC_VIRTUAL;
    desc->invkind = static_cast<INVOKEKIND>(m.data.wFlags);
    desc->callconv = m.data.cc;
    desc->cParams = static_cast<SHORT>(m.param_types.size());
    desc->oVft = static_cast<SHORT>(m.data.iMeth * sizeof(void*));
    desc->elemdescFunc.tdesc.vt = m.data.vtReturn;
    *func = desc;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* func) override {
    if (func == nullptr) return;
    delete[] func->lprgelemdescParam;
    delete func;
  }

  // The method's name, then its parameters', as many as `max_names` holds.
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT max_names,
                                     UINT* got) override {
    if (names == nullptr || got == nullptr) return E_INVALIDARG;
    *got = 0;
    const Method* m = Find(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<const std::u16string*> all = {&m->name};
    for (const std::u16string& p : m->param_names) all.push_back(&p);
    const UINT count = std::min(max_names, static_cast<UINT>(all.size()));
    for (UINT i = 0; i < count; ++i) {
      names[i] = Copy(*all[i]);
      if (names[i] == nullptr) {
        for (UINT j = 0; j < i; ++j) SysFreeString(names[j]);
        return E_OUTOFMEMORY;
      }
    }
    *got = count;
    return S_OK;
  }

  // The first name is a method's, giving its member id; the others its
  // parameters', giving their positions. Unknown ones get MEMBERID_NIL.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count,
                                          MEMBERID* memids) override {
    if (names == nullptr || memids == nullptr || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) memids[i] = MEMBERID_NIL;
    const Method* m = nullptr;
    for (const Method& candidate : methods_) {
      if (names[0] != nullptr && SameName(candidate.name, names[0])) {
        m = &candidate;
        break;
      }
    }
    if (m == nullptr) return DISP_E_UNKNOWNNAME;
    memids[0] = m->data.dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
      for (size_t p = 0; p < m->param_names.size() && names[i] != nullptr; ++p) {
        if (SameName(m->param_names[p], names[i])) {
          memids[i] = static_cast<MEMBERID>(p);
          break;
        }
      }
      if (memids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) override { return Null(comp); }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** var) override { return Null(var); }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE* ref) override {
    return Null(ref);
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT* flags) override { return Null(flags); }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID, BSTR* name, BSTR* doc_string,
                                             DWORD* help_context, BSTR* help_file) override {
    return Null(name, doc_string, help_context, help_file);
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll_name, BSTR* name,
                                        WORD* ordinal) override {
    return Null(dll_name, name, ordinal);
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** info) override {
    return Null(info);
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* address) override {
    return Null(address);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* object) override {
    return Null(object);
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* mops) override { return Null(mops); }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
    return Null(lib, index);
  }

 private:
  // What is not offered: its out-parameters emptied.
  template <typename... Out>
  static HRESULT Null(Out*... out) {
    ((out != nullptr ? void(*out = {}) : void()), ...);
    return E_NOTIMPL;
  }

  const Method* Find(MEMBERID memid) const {
    for (const Method& m : methods_) {
      if (m.data.dispid == memid) return &m;
    }
    return nullptr;
  }

  const std::vector<Method> methods_;
  const LCID lcid_;
};

}  // namespace

extern "C" HRESULT CreateDispTypeInfo(INTERFACEDATA* data, LCID lcid, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (data == nullptr || (data->cMembers > 0 && data->pmethdata == nullptr)) return E_INVALIDARG;
  try {
    std::vector<Method> methods;
    for (UINT i = 0; i < data->cMembers; ++i) {
      const METHODDATA& source = data->pmethdata[i];
      if (source.szName == nullptr || (source.cArgs > 0 && source.ppdata == nullptr)) {
        return E_INVALIDARG;
      }
      Method m{source.szName, {}, {}, source};
      for (UINT p = 0; p < source.cArgs; ++p) {
        const PARAMDATA& param = source.ppdata[p];
        m.param_names.emplace_back(param.szName == nullptr ? u"" : param.szName);
        m.param_types.push_back(param.vt);
      }
      m.data.szName = nullptr;
      m.data.ppdata = nullptr;
      methods.push_back(std::move(m));
    }
    *info = new DispTypeInfo(std::move(methods), lcid);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
