#include "framework/dispatcher.h"

#include <climits>
#include <cwchar>
#include <new>

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

namespace {

// Script hosts pass their variables as VT_VARIANT|VT_BYREF; the value to convert is inside.
const VARIANT* ValueOf(const VARIANT* v) {
  for (int depth = 0; depth < 8 && V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v); ++depth)
    v = V_VARIANTREF(v);
  return v;
}

// The marker a caller passes for an argument it leaves out.
bool IsMissing(const VARIANT* v) {
  v = ValueOf(v);
  return V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND;
}

// OLE Automation's standard conversion, without flags, from the caller's value to `type`.
HRESULT ConvertValue(VARIANT* out, const VARIANT* in, VARTYPE type) {
  return ::VariantChangeType(out, const_cast<VARIANT*>(ValueOf(in)), 0, type);
}

// Hands `from` over to `to`, leaving `from` empty. `to` is the caller's slot: never cleared,
// since it holds nothing of ours.
void MoveVariant(VARIANT& from, VARIANT* to) {
  *to = from;
  V_VT(&from) = VT_EMPTY;
}

bool IsPut(WORD flags) { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }

}  // namespace

Dispatcher::Dispatcher(std::span<const DispEntry> entries) : m_entries(entries) {
  if (m_entries.size() >= UCHAR_MAX) return;  // positions would not fit: Find walks the table
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const DISPID id = m_entries[i].dispid;
    // The first entry of an identifier is the one a walk would find.
    if (id >= 0 && id < kIndexedIds && m_positionById[static_cast<size_t>(id)] == 0)
      m_positionById[static_cast<size_t>(id)] = static_cast<unsigned char>(i + 1);
  }
}

const DispEntry* Dispatcher::Find(DISPID id) const {
  if (id >= 0 && id < kIndexedIds && m_entries.size() < UCHAR_MAX) {
    const unsigned position = m_positionById[static_cast<size_t>(id)];
    return position ? &m_entries[position - 1] : nullptr;
  }
  for (const auto& e : m_entries)
    if (e.dispid == id) return &e;
  return nullptr;
}

const DispEntry* Dispatcher::Find(const wchar_t* name) const {
  if (!name) return nullptr;
  for (const auto& e : m_entries)
    if (::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, e.name, -1, name, -1) == CSTR_EQUAL)
      return &e;
  return nullptr;
}

HRESULT Dispatcher::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  const DispEntry* e = Find(names[0]);
  ids[0] = e ? e->dispid : DISPID_UNKNOWN;
  // The table has no argument names: each one is an unknown name.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return e && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT Dispatcher::Invoke(COleControl* self, bool initialised, DISPID id, REFIID iid, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                           const wchar_t* source) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!initialised) return E_UNEXPECTED;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if ((params->cArgs > 0 && !params->rgvarg) || params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;
  if (params->cNamedArgs > 0 && !(params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                                  params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
    return DISP_E_NONAMEDARGS;
  const DispEntry* entry = Find(id);
  constexpr WORD kCallKinds =
      DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  if (!entry || !(flags & kCallKinds)) return DISP_E_MEMBERNOTFOUND;
  return ComBarrier([&] { return InvokeEntry(self, *entry, flags, *params, result, argErr); },
                    [&](const AutomationException& e) noexcept {
                      if (excepInfo) {
                        *excepInfo = {};
                        excepInfo->scode = e.scode;
                        excepInfo->bstrDescription = ::SysAllocStringLen(
                            e.description.data(), static_cast<UINT>(e.description.size()));
                        if (source) excepInfo->bstrSource = ::SysAllocString(source);
                      }
                      return DISP_E_EXCEPTION;
                    });
}

HRESULT Dispatcher::InvokeEntry(COleControl* self, const DispEntry& entry, WORD flags,
                                const DISPPARAMS& params, VARIANT* result, UINT* argErr) const {
  if (entry.binding == DispBinding::Method) {
    if (IsPut(flags)) return DISP_E_TYPEMISMATCH;
    DispArgs args;
    HRESULT hr = ConvertArgs(entry.params, params, args, argErr);
    if (FAILED(hr)) return hr;
    unique_variant out;
    entry.call(self, args, &out);
    return StoreResult(entry.type, out, result);
  }

  // A method call on a property reads it without arguments and writes it with them.
  const bool put = IsPut(flags) || ((flags & DISPATCH_METHOD) && params.cArgs > 0);
  if (!put) {
    if (params.cArgs > 0) return DISP_E_BADPARAMCOUNT;
    if (!result) return DISP_E_PARAMNOTOPTIONAL;
    if (entry.binding == DispBinding::Member) return GetMember(self, entry, result);
    unique_variant out;
    entry.get(self, &out);
    return StoreResult(entry.type, out, result);
  }

  // A put carries one value, the last argument; the result slot plays no part.
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (entry.readOnly || (entry.binding == DispBinding::Accessors && !entry.put))
    ThrowError(kSetNotSupported, L"");
  if (entry.binding == DispBinding::Member) {
    HRESULT hr = PutMember(self, entry, &params.rgvarg[0], argErr);
    if (FAILED(hr)) return hr;
    if (entry.notify) entry.notify(self);
    return S_OK;
  }
  const DispParam value[] = {{L"value", entry.type}};
  DispArgs args;
  HRESULT hr = ConvertArgs(value, params, args, argErr);
  if (FAILED(hr)) return hr;
  entry.put(self, args);
  return S_OK;
}

HRESULT Dispatcher::ConvertArgs(std::span<const DispParam> declared, const DISPPARAMS& params,
                                DispArgs& args, UINT* argErr) {
  const UINT count = params.cArgs;
  if (count > declared.size()) return DISP_E_BADPARAMCOUNT;
  for (size_t i = 0; i < declared.size(); ++i) {
    auto& slot = args.m_slots[i];
    const VARTYPE type = declared[i].type;
    if (declared[i].optional &&
        (i >= count || IsMissing(&params.rgvarg[count - 1 - static_cast<UINT>(i)]))) {
      V_VT(&slot.value) = VT_I4;
      V_I4(&slot.value) = declared[i].defaultValue;
      continue;
    }
    if (i >= count) {
      if (type != VT_VARIANT) return DISP_E_PARAMNOTOPTIONAL;
      V_VT(&slot.value) = VT_ERROR;
      V_ERROR(&slot.value) = DISP_E_PARAMNOTFOUND;
      slot.raw = &slot.value;
      continue;
    }
    // Arguments come last first: the first parameter is the last element.
    const UINT position = count - 1 - static_cast<UINT>(i);
    VARIANT* arg = &params.rgvarg[position];
    if (type == VT_VARIANT) {
      slot.raw = arg;
      continue;
    }
    if (IsMissing(arg)) {
      if (argErr) *argErr = position;
      return DISP_E_PARAMNOTOPTIONAL;
    }
    // Text that already is text is read in place; everything else takes the standard conversion.
    if (type == VT_BSTR && V_VT(ValueOf(arg)) == VT_BSTR) {
      slot.text = ViewOfBstr(V_BSTR(ValueOf(arg)));
      continue;
    }
    HRESULT hr = ConvertValue(&slot.value, arg, type);
    if (FAILED(hr)) {
      if (argErr) *argErr = position;
      return hr;
    }
    if (type == VT_BSTR) slot.text = ViewOfBstr(V_BSTR(&slot.value));
  }
  return S_OK;
}

HRESULT Dispatcher::StoreResult(VARTYPE declared, VARIANT& produced, VARIANT* result) {
  if (declared == VT_EMPTY || !result) return S_OK;
  if (declared != VT_VARIANT && V_VT(&produced) != declared) {
    // A thunk that hands back another type still gives the caller the declared one.
    HRESULT hr = ::VariantChangeType(&produced, &produced, 0, declared);
    if (FAILED(hr)) return hr;
  }
  if (declared == VT_BOOL) V_BOOL(&produced) = V_BOOL(&produced) ? VARIANT_TRUE : VARIANT_FALSE;
  MoveVariant(produced, result);
  return S_OK;
}

HRESULT Dispatcher::GetMember(COleControl* self, const DispEntry& entry, VARIANT* result) {
  void* member = entry.member(self);
  unique_variant out;
  switch (entry.type) {
    case VT_I2:
      ResultI2(&out, *static_cast<short*>(member));
      break;
    case VT_I4:
      ResultI4(&out, *static_cast<LONG*>(member));
      break;
    case VT_R8:
      ResultR8(&out, *static_cast<double*>(member));
      break;
    case VT_BOOL:
      ResultBool(&out, *static_cast<BOOL*>(member));
      break;
    case VT_BSTR:
      ResultText(&out, *static_cast<std::wstring*>(member));
      break;
    default:
      return E_NOTIMPL;
  }
  MoveVariant(out, result);
  return S_OK;
}

HRESULT Dispatcher::PutMember(COleControl* self, const DispEntry& entry, VARIANT* value,
                              UINT* argErr) {
  unique_variant converted;
  HRESULT hr = ConvertValue(&converted, value, entry.type);
  if (FAILED(hr)) {
    if (argErr) *argErr = 0;
    return hr;
  }
  void* member = entry.member(self);
  switch (entry.type) {
    case VT_I2:
      *static_cast<short*>(member) = V_I2(&converted);
      return S_OK;
    case VT_I4:
      *static_cast<LONG*>(member) = V_I4(&converted);
      return S_OK;
    case VT_R8:
      *static_cast<double*>(member) = V_R8(&converted);
      return S_OK;
    case VT_BOOL:
      *static_cast<BOOL*>(member) = V_BOOL(&converted) ? 1 : 0;
      return S_OK;
    case VT_BSTR:
      *static_cast<std::wstring*>(member) = WideFromBstr(V_BSTR(&converted));
      return S_OK;
    default:
      return E_NOTIMPL;
  }
}

}  // namespace fw
