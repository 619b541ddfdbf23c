#include "framework/dispatcher.h"

#include <cwchar>

#include "framework/automation_error.h"
#include "framework/text.h"

namespace fw {

void ResultI2(VARIANT* r, short v) {
  V_VT(r) = VT_I2;
  V_I2(r) = v;
}
void ResultI4(VARIANT* r, LONG v) {
  V_VT(r) = VT_I4;
  V_I4(r) = v;
}
void ResultR8(VARIANT* r, double v) {
  V_VT(r) = VT_R8;
  V_R8(r) = v;
}
void ResultBool(VARIANT* r, LONG v) {
  V_VT(r) = VT_BOOL;
  V_BOOL(r) = v ? VARIANT_TRUE : VARIANT_FALSE;
}
void ResultText(VARIANT* r, const std::wstring& v) {
  BSTR b = AllocBstr(v);
  V_VT(r) = VT_BSTR;
  V_BSTR(r) = b;
}

const DispEntry* Dispatcher::Find(DISPID id) const {
  for (const auto& e : entries_)
    if (e.dispid == id) return &e;
  return nullptr;
}

const DispEntry* Dispatcher::Find(const wchar_t* name) const {
  for (const auto& e : entries_)
    if (::lstrcmpiW(e.name, name) == 0) return &e;
  return nullptr;
}

HRESULT Dispatcher::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  const DispEntry* e = names[0] ? Find(names[0]) : nullptr;
  ids[0] = e ? e->dispid : DISPID_UNKNOWN;
  // Argument names are not known to the table.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return e && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT Dispatcher::Invoke(COleControl* self, bool initialised, DISPID id, REFIID iid, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                           UINT* argErr) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!initialised) return E_UNEXPECTED;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if (params->cNamedArgs > 0 &&
      !(params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
        params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
    return DISP_E_NONAMEDARGS;
  const DispEntry* entry = Find(id);
  if (!entry) return DISP_E_MEMBERNOTFOUND;
  try {
    return InvokeEntry(self, *entry, flags, params, result, argErr);
  } catch (const AutomationException& e) {
    if (excepInfo) {
      *excepInfo = {};
      excepInfo->scode = e.scode;
      excepInfo->bstrDescription = ::SysAllocStringLen(
          e.description.data(), static_cast<UINT>(e.description.size()));
      excepInfo->bstrSource = ::SysAllocString(L"UDP.UdpCtrl.1");
    }
    return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT Dispatcher::InvokeEntry(COleControl* self, const DispEntry& entry, WORD flags,
                                DISPPARAMS* params, VARIANT* result, UINT* argErr) const {
  const bool isPut = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  if (entry.binding == DispBinding::Method) {
    if (isPut) return DISP_E_TYPEMISMATCH;
    DispArgs args;
    HRESULT hr = ConvertArgs(entry, entry.params, params, args, argErr);
    if (FAILED(hr)) return hr;
    unique_variant out;
    entry.call(self, args, &out);
    if (result && entry.type != VT_EMPTY) {
      ::VariantInit(result);
      *static_cast<VARIANT*>(result) = out;
      V_VT(&out) = VT_EMPTY;  // ownership moved to the caller
    }
    return S_OK;
  }

  // A method call on a property is a get without arguments and a put with them.
  bool get = !isPut;
  if ((flags & DISPATCH_METHOD) && !isPut) get = params->cArgs == 0;
  if (get) {
    if (params->cArgs > 0) return DISP_E_BADPARAMCOUNT;
    if (!result) return DISP_E_PARAMNOTOPTIONAL;
    if (entry.binding == DispBinding::Member) return GetMember(self, entry, result);
    unique_variant out;
    entry.get(self, &out);
    ::VariantInit(result);
    *static_cast<VARIANT*>(result) = out;
    V_VT(&out) = VT_EMPTY;
    return S_OK;
  }

  if (entry.binding == DispBinding::Member) {
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (entry.readOnly) ThrowError(kSetNotSupported, L"");
    HRESULT hr = PutMember(self, entry, &params->rgvarg[0]);
    if (FAILED(hr)) {
      if (argErr) *argErr = 0;
      return hr;
    }
    if (entry.notify) entry.notify(self);
    return S_OK;
  }
  if (entry.readOnly || !entry.put) ThrowError(kSetNotSupported, L"");
  // The value of a put is the last argument.
  const DispParam value[] = {{L"value", entry.type}};
  DISPPARAMS last = {params->rgvarg, nullptr, params->cArgs ? 1u : 0u, 0};
  if (params->cArgs > 1) return DISP_E_BADPARAMCOUNT;
  DispArgs args;
  HRESULT hr = ConvertArgs(entry, value, &last, args, argErr);
  if (FAILED(hr)) return hr;
  entry.put(self, args);
  return S_OK;
}

HRESULT Dispatcher::ConvertArgs(const DispEntry&, std::span<const DispParam> declared,
                                DISPPARAMS* params, DispArgs& args, UINT* argErr) const {
  const UINT count = params->cArgs;
  if (count > declared.size()) return DISP_E_BADPARAMCOUNT;
  for (size_t i = 0; i < declared.size(); ++i) {
    auto& slot = args.slots_[i];
    const VARTYPE type = declared[i].type;
    if (i >= count) {
      if (type != VT_VARIANT) return DISP_E_PARAMNOTOPTIONAL;
      V_VT(&slot.value) = VT_ERROR;
      V_ERROR(&slot.value) = DISP_E_PARAMNOTFOUND;
      slot.raw = &slot.value;
      continue;
    }
    const UINT position = count - 1 - static_cast<UINT>(i);
    VARIANT* arg = &params->rgvarg[position];
    if (type == VT_VARIANT) {
      slot.raw = arg;
      continue;
    }
    HRESULT hr = ::VariantChangeType(&slot.value, arg, 0, type);
    if (FAILED(hr)) {
      if (argErr) *argErr = position;
      return hr;
    }
    if (type == VT_BSTR) slot.text = WideFromBstr(V_BSTR(&slot.value));
  }
  return S_OK;
}

HRESULT Dispatcher::GetMember(COleControl* self, const DispEntry& entry, VARIANT* result) {
  void* member = entry.member(self);
  ::VariantInit(result);
  switch (entry.type) {
    case VT_I2:
      ResultI2(result, *static_cast<short*>(member));
      return S_OK;
    case VT_I4:
      ResultI4(result, *static_cast<LONG*>(member));
      return S_OK;
    case VT_BOOL:
      ResultBool(result, *static_cast<BOOL*>(member));
      return S_OK;
    case VT_BSTR:
      ResultText(result, *static_cast<std::wstring*>(member));
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT Dispatcher::PutMember(COleControl* self, const DispEntry& entry, VARIANT* value) {
  unique_variant converted;
  HRESULT hr = ::VariantChangeType(&converted, value, 0, entry.type);
  if (FAILED(hr)) return hr;
  void* member = entry.member(self);
  switch (entry.type) {
    case VT_I2:
      *static_cast<short*>(member) = V_I2(&converted);
      return S_OK;
    case VT_I4:
      *static_cast<LONG*>(member) = V_I4(&converted);
      return S_OK;
    case VT_BOOL:
      *static_cast<BOOL*>(member) = V_BOOL(&converted) ? 1 : 0;
      return S_OK;
    case VT_BSTR:
      *static_cast<std::wstring*>(member) = WideFromBstr(V_BSTR(&converted));
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace fw
