#include "framework/dispatcher.h"

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

bool DispatchCore::NameMatches(const wchar_t* entryName, const wchar_t* name) {
  return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, entryName, -1, name, -1) == CSTR_EQUAL;
}

HRESULT DispatchCore::Invoke(const Shape* entry, const Target& target, bool initialised, REFIID iid,
                             WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                             UINT* argErr, const wchar_t* source) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!initialised) return E_UNEXPECTED;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if ((params->cArgs > 0 && !params->rgvarg) || params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;
  if (params->cNamedArgs > 0 && !(params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                                  params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
    return DISP_E_NONAMEDARGS;
  constexpr WORD kCallKinds =
      DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  if (!entry || !(flags & kCallKinds)) return DISP_E_MEMBERNOTFOUND;
  return ComBarrier([&] { return InvokeEntry(*entry, target, flags, *params, result, argErr); },
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

HRESULT DispatchCore::InvokeEntry(const Shape& entry, const Target& target, WORD flags,
                                  const DISPPARAMS& params, VARIANT* result, UINT* argErr) {
  if (entry.binding == DispBinding::Method) {
    if (IsPut(flags)) return DISP_E_TYPEMISMATCH;
    DispArgs args;
    HRESULT hr = ConvertArgs(entry.params, params, args, argErr);
    if (FAILED(hr)) return hr;
    unique_variant out;
    target.Call(args, &out);
    return StoreResult(entry.type, out, result);
  }

  // A method call on a property reads it without arguments and writes it with them.
  const bool put = IsPut(flags) || ((flags & DISPATCH_METHOD) && params.cArgs > 0);
  if (!put) {
    if (params.cArgs > 0) return DISP_E_BADPARAMCOUNT;
    if (!result) return DISP_E_PARAMNOTOPTIONAL;
    unique_variant out;
    target.Get(&out);
    return StoreResult(entry.type, out, result);
  }

  // A put carries one value, the last argument; the result slot plays no part.
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (!entry.canPut) ThrowError(kSetNotSupported, L"");
  DispArgs args;
  HRESULT hr;
  if (entry.binding == DispBinding::Member) {
    hr = ConvertMemberValue(entry.type, &params.rgvarg[0], args, argErr);
  } else {
    const DispParam value[] = {{L"value", entry.type}};
    hr = ConvertArgs(value, params, args, argErr);
  }
  if (FAILED(hr)) return hr;
  target.Put(args);
  return S_OK;
}

HRESULT DispatchCore::ConvertArgs(std::span<const DispParam> declared, const DISPPARAMS& params,
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

HRESULT DispatchCore::StoreResult(VARTYPE declared, VARIANT& produced, VARIANT* result) {
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

// A field takes the standard conversion of whatever the caller passed, a missing value included
// (which it refuses as a type mismatch).
HRESULT DispatchCore::ConvertMemberValue(VARTYPE type, VARIANT* value, DispArgs& args,
                                         UINT* argErr) {
  auto& slot = args.m_slots[0];
  HRESULT hr = ConvertValue(&slot.value, value, type);
  if (FAILED(hr)) {
    if (argErr) *argErr = 0;
    return hr;
  }
  if (type == VT_BSTR) slot.text = ViewOfBstr(V_BSTR(&slot.value));
  return S_OK;
}

}  // namespace fw
