// An in-memory IPropertyBag that remembers the order in which properties were written.
#pragma once
#include <ocidl.h>

#include <string>
#include <utility>
#include <vector>

#include "support/host.h"

namespace host {

class PropertyBag : public IPropertyBag {
 public:
  std::vector<std::pair<std::wstring, Var>> values;  // in write order

  const Var* Find(const std::wstring& name) const {
    for (auto& [n, v] : values)
      if (n == name) return &v;
    return nullptr;
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> out;
    for (auto& [n, v] : values) out.push_back(n);
    return out;
  }
  void Set(const std::wstring& name, Var value) {
    for (auto& [n, v] : values)
      if (n == name) {
        v = value;
        return;
      }
    values.emplace_back(name, value);
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
      *out = static_cast<IPropertyBag*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    const Var* v = Find(name);
    if (!v) return E_INVALIDARG;
    VARTYPE wanted = V_VT(value);
    ::VariantInit(value);
    if (wanted == VT_EMPTY) return ::VariantCopy(value, const_cast<VARIANT*>(v->get()));
    return ::VariantChangeType(value, const_cast<VARIANT*>(v->get()), 0, wanted);
  }
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
    Set(name, Var(*value));
    return S_OK;
  }
};

}  // namespace host
