// Every kind of VARIANT a host can pass: scalars at their edges, hostile texts, objects, arrays
// of any bounds, element type and dimension, and references to all of them.
#include <cfloat>
#include <climits>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>

#include "fuzz/fuzz.h"

namespace fuzz {

VARIANT* Arena::NewTarget() {
  targets_.emplace_back();
  ::VariantInit(&targets_.back());
  return &targets_.back();
}

void Arena::Clear() {
  for (auto& v : targets_) ::VariantClear(&v);
  targets_.clear();
}

namespace {

long g_liveObjects = 0;

// An object whose default member (DISPID_VALUE) answers one fixed value, or fails (no value).
class Object : public IDispatch {
 public:
  Object(const VARIANT* value, bool dispatch) : dispatch_(dispatch), fails_(!value) {
    ++g_liveObjects;
    ::VariantInit(&value_);
    if (value) ::VariantCopy(&value_, const_cast<VARIANT*>(value));
  }
  virtual ~Object() {
    ::VariantClear(&value_);
    --g_liveObjects;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || (dispatch_ && IsEqualIID(iid, IID_IDispatch))) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** t) override {
    if (t) *t = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (fails_) return E_FAIL;
    if (!result) return S_OK;
    ::VariantInit(result);
    return ::VariantCopy(result, &value_);
  }

 private:
  ULONG refs_ = 1;
  bool dispatch_;
  bool fails_;
  VARIANT value_;
};

BSTR Repeat(wchar_t c, UINT n) {
  BSTR b = ::SysAllocStringLen(nullptr, n);
  for (UINT i = 0; i < n; ++i) b[i] = c;
  return b;
}

template <typename T>
T EdgeInteger(Rng& rng) {
  using L = std::numeric_limits<T>;
  const T edges[] = {T(0), T(1), T(-1), L::min(), L::max(), T(L::min() + 1), T(L::max() - 1),
                     T(7), T(5000), T(65535), T(70000), T(2130706433), T(4294967295u)};
  return rng.OneIn(4) ? static_cast<T>(rng.Bits()) : rng.Pick(edges);
}

double EdgeDouble(Rng& rng) {
  const double edges[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          1e300, -1e300, 0.0, -0.0, DBL_MAX, -DBL_MAX, DBL_MIN, 5e-324,
                          4294967295.0, 4294967296.0, 2147483648.0, -2147483649.0, 65535.5,
                          5000.0, -0.5, 9223372036854775808.0};
  if (rng.OneIn(4)) {
    const uint64_t bits = rng.Bits();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;  // any bit pattern, signalling NaNs included
  }
  return rng.Pick(edges);
}

void RandomScalar(Rng& rng, VARTYPE vt, VARIANT* out) {
  ::VariantInit(out);
  V_VT(out) = vt;
  switch (vt) {
    case VT_I1: V_I1(out) = EdgeInteger<CHAR>(rng); break;
    case VT_UI1: V_UI1(out) = EdgeInteger<BYTE>(rng); break;
    case VT_I2: V_I2(out) = EdgeInteger<SHORT>(rng); break;
    case VT_UI2: V_UI2(out) = EdgeInteger<USHORT>(rng); break;
    case VT_I4: V_I4(out) = EdgeInteger<LONG>(rng); break;
    case VT_UI4: V_UI4(out) = EdgeInteger<ULONG>(rng); break;
    case VT_INT: V_INT(out) = EdgeInteger<INT>(rng); break;
    case VT_UINT: V_UINT(out) = EdgeInteger<UINT>(rng); break;
    case VT_I8: V_I8(out) = EdgeInteger<LONGLONG>(rng); break;
    case VT_UI8: V_UI8(out) = EdgeInteger<ULONGLONG>(rng); break;
    case VT_R4: V_R4(out) = static_cast<float>(EdgeDouble(rng)); break;
    case VT_R8: V_R8(out) = EdgeDouble(rng); break;
    case VT_DATE: V_DATE(out) = EdgeDouble(rng); break;
    case VT_CY: V_CY(out).int64 = EdgeInteger<LONGLONG>(rng); break;
    case VT_BOOL: {
      const SHORT values[] = {VARIANT_TRUE, VARIANT_FALSE, 1, 5, SHRT_MIN, SHRT_MAX};
      V_BOOL(out) = rng.Pick(values);
      break;
    }
    case VT_ERROR: {
      const SCODE values[] = {DISP_E_PARAMNOTFOUND, DISP_E_PARAMNOTFOUND, E_FAIL, S_OK,
                              DISP_E_TYPEMISMATCH, static_cast<SCODE>(0x800A74D5)};
      V_ERROR(out) = rng.OneIn(5) ? static_cast<SCODE>(rng.Bits()) : rng.Pick(values);
      break;
    }
    case VT_DECIMAL: {
      DECIMAL d = {};
      d.scale = static_cast<BYTE>(rng.Below(29));
      d.sign = rng.OneIn(2) ? DECIMAL_NEG : 0;
      d.Hi32 = rng.OneIn(2) ? 0xFFFFFFFFu : static_cast<ULONG>(rng.Bits());
      d.Lo64 = rng.OneIn(2) ? ~0ull : rng.Bits();
      V_DECIMAL(out) = d;
      V_VT(out) = VT_DECIMAL;  // the DECIMAL overlays the type field
      break;
    }
    default:
      V_VT(out) = VT_EMPTY;
  }
}

constexpr VARTYPE kScalarTypes[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT,
                                    VT_I8, VT_UI8, VT_R4, VT_R8, VT_DATE, VT_CY, VT_BOOL,
                                    VT_ERROR, VT_DECIMAL};

LONG RandomLowerBound(Rng& rng) {
  const LONG bounds[] = {0, 0, 0, 1, -1, -100000, LONG_MAX - 70000, LONG_MIN, LONG_MAX};
  return rng.OneIn(4) ? static_cast<LONG>(rng.Below(2001)) - 1000 : rng.Pick(bounds);
}

size_t RandomByteCount(Rng& rng, bool small) {
  const size_t sizes[] = {0, 1, 2, 3, 4, 5, 16, 512, 1472, 65467, 65468, 65507, 70000};
  if (small || rng.Percent(70)) return rng.Below(small ? 64 : 600);
  return rng.Pick(sizes);
}

// An array of another element type, or of two dimensions.
void OtherArray(ValueContext& c, VARIANT* out, int depth) {
  Rng& rng = c.rng;
  const VARTYPE types[] = {VT_UI1, VT_I2, VT_I4, VT_R8, VT_BSTR, VT_VARIANT, VT_BOOL, VT_I1,
                           VT_DISPATCH};
  const VARTYPE element = rng.Pick(types);
  const UINT dims = rng.OneIn(2) ? 2 : 1 + rng.Below(3);
  SAFEARRAYBOUND bounds[3];
  ULONG total = 1;
  for (UINT d = 0; d < dims; ++d) {
    bounds[d].cElements = std::min<ULONG>(rng.Below(rng.OneIn(8) ? 1000 : 6), 4000 / total);
    bounds[d].lLbound = rng.OneIn(3) ? RandomLowerBound(rng) : 0;
    total *= bounds[d].cElements ? bounds[d].cElements : 1;
  }
  ::VariantInit(out);
  SAFEARRAY* a = ::SafeArrayCreate(element, dims, bounds);
  if (!a) return;
  void* data = nullptr;
  if (SUCCEEDED(::SafeArrayAccessData(a, &data))) {
    ULONG count = 1;
    for (UINT d = 0; d < dims; ++d) count *= bounds[d].cElements;
    for (ULONG i = 0; i < count; ++i) {
      switch (element) {
        case VT_BSTR:
          static_cast<BSTR*>(data)[i] = RandomText(rng, true);
          break;
        case VT_VARIANT: {
          ValueContext inner{rng, c.arena, {}, true};
          RandomValue(inner, &static_cast<VARIANT*>(data)[i], depth + 1);
          // An element owned by the array must not point into the arena.
          if (V_VT(&static_cast<VARIANT*>(data)[i]) & VT_BYREF)
            ::VariantInit(&static_cast<VARIANT*>(data)[i]);
          break;
        }
        case VT_DISPATCH:
          static_cast<IDispatch**>(data)[i] =
              rng.OneIn(2) ? nullptr : static_cast<IDispatch*>(NewObject(rng, true));
          break;
        default:
          for (UINT b = 0; b < a->cbElements; ++b)
            static_cast<BYTE*>(data)[i * a->cbElements + b] = static_cast<BYTE>(rng.Bits());
      }
    }
    ::SafeArrayUnaccessData(a);
  }
  V_VT(out) = VT_ARRAY | element;
  V_ARRAY(out) = a;
}

}  // namespace

long LiveObjects() { return g_liveObjects; }

IUnknown* NewObject(Rng& rng, bool dispatch) {
  VARIANT value;
  ::VariantInit(&value);
  switch (rng.Below(5)) {
    case 0:
      V_VT(&value) = VT_I4;
      V_I4(&value) = static_cast<LONG>(rng.Bits());
      break;
    case 1:
      V_VT(&value) = VT_BSTR;
      V_BSTR(&value) = RandomText(rng, true);
      break;
    case 2:
      V_VT(&value) = VT_R8;
      V_R8(&value) = std::numeric_limits<double>::quiet_NaN();
      break;
    case 3:
      RandomBytes(rng, &value, rng.Below(8));
      break;
    default:
      return new Object(nullptr, dispatch);
  }
  IUnknown* object = new Object(&value, dispatch);
  ::VariantClear(&value);
  return object;
}

BSTR RandomText(Rng& rng, bool small) {
  switch (rng.Below(small ? 26 : 28)) {
    case 0: return nullptr;
    case 1: return ::SysAllocString(L"");
    case 2: return ::SysAllocString(L"127.0.0.1");
    case 3: return ::SysAllocString(L"localhost");
    case 4: return ::SysAllocString(L"5000");
    case 5: return ::SysAllocString(L"-1");
    case 6: return ::SysAllocString(L"99999999999");
    case 7: return ::SysAllocString(L"1e300");
    case 8: return ::SysAllocString(L"abc");
    case 9: return ::SysAllocString(L"echo");
    case 10: return ::SysAllocStringLen(L"\xD800", 1);            // unpaired high surrogate
    case 11: return ::SysAllocStringLen(L"a\xDC00z\xD83D", 4);     // lone low, trailing high
    case 12: return ::SysAllocStringLen(L"12\0" L"34", 5);         // embedded NUL
    case 13: return ::SysAllocStringLen(L"\0\0\0", 3);
    case 14: return ::SysAllocStringByteLen("\x01\x02\x03", 3);   // odd byte length
    case 15: return ::SysAllocString(L"\x65E5\x672C\x8A9E");      // Japanese
    case 16: return ::SysAllocString(L"255.255.255.255");
    case 17: return ::SysAllocString(L"-25536");
    case 18: return ::SysAllocString(L"True");
    // IPv6 texts: loopback, every address, mapped, scoped, malformed, a group.
    case 19:
      return ::SysAllocString(L"::1");
    case 20:
      return ::SysAllocString(L"::");
    case 21:
      return ::SysAllocString(L"::ffff:127.0.0.1");
    case 22:
      return ::SysAllocString(L"fe80::1%1");
    case 23:
      return ::SysAllocString(rng.OneIn(2) ? L"1::2::3" : L"[::1]:7");
    case 24:
      return ::SysAllocString(L"ff02::1");
    case 25: {
      const UINT n = 1 + rng.Below(64);
      BSTR b = ::SysAllocStringLen(nullptr, n);
      for (UINT i = 0; i < n; ++i) b[i] = static_cast<wchar_t>(rng.Bits());
      return b;
    }
    case 26:
      return Repeat(L'x', 100000);
    default: return Repeat(static_cast<wchar_t>(0xD800 + rng.Below(0x800)), 100000);
  }
}

void RandomBytes(Rng& rng, VARIANT* out, size_t size, LONG lower) {
  ::VariantInit(out);
  SAFEARRAYBOUND bound = {static_cast<ULONG>(size), lower};
  SAFEARRAY* a = ::SafeArrayCreate(VT_UI1, 1, &bound);
  if (!a) return;
  auto* bytes = static_cast<BYTE*>(a->pvData);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(rng.Bits());
  V_VT(out) = VT_ARRAY | VT_UI1;
  V_ARRAY(out) = a;
}

void RandomValue(ValueContext& c, VARIANT* out, int depth) {
  Rng& rng = c.rng;
  ::VariantInit(out);
  VARIANT plain;
  ::VariantInit(&plain);
  switch (rng.Below(12)) {
    case 0:
      V_VT(&plain) = rng.OneIn(2) ? VT_EMPTY : VT_NULL;
      break;
    case 1:
    case 2:
    case 3:
      RandomScalar(rng, rng.Pick(kScalarTypes), &plain);
      break;
    case 4:
    case 5:
      V_VT(&plain) = VT_BSTR;
      V_BSTR(&plain) = RandomText(rng, c.small);
      break;
    case 6: {
      const bool dispatch = !rng.OneIn(3);
      V_VT(&plain) = dispatch ? VT_DISPATCH : VT_UNKNOWN;
      if (rng.OneIn(3)) {
        V_UNKNOWN(&plain) = nullptr;
      } else if (dispatch && !c.controls.empty() && rng.OneIn(3)) {
        V_DISPATCH(&plain) = rng.Pick(c.controls);
        V_DISPATCH(&plain)->AddRef();
      } else {
        V_UNKNOWN(&plain) = NewObject(rng, dispatch);
      }
      break;
    }
    case 7:
    case 8:
      RandomBytes(rng, &plain, RandomByteCount(rng, c.small),
                  rng.OneIn(3) ? RandomLowerBound(rng) : 0);
      break;
    case 9:
      // What VB passes for an empty dynamic array.
      V_VT(&plain) = VT_ARRAY | VT_UI1;
      V_ARRAY(&plain) = nullptr;
      break;
    case 10:
      if (depth < 2) {
        OtherArray(c, &plain, depth);
        break;
      }
      [[fallthrough]];
    default:
      if (depth < 4) {
        // A VARIANT reference to any value, references among them.
        VARIANT* target = c.arena.NewTarget();
        RandomValue(c, target, depth + 1);
        V_VT(out) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(out) = target;
        return;
      }
  }
  if (rng.OneIn(3))
    Disguise(c, plain, out);
  else
    *out = plain;
}

void Disguise(ValueContext& c, const VARIANT& value, VARIANT* out) {
  Rng& rng = c.rng;
  ::VariantInit(out);
  const VARTYPE vt = V_VT(&value);
  VARIANT* target = c.arena.NewTarget();
  *target = value;  // the arena owns the value from here on
  switch (rng.Below(4)) {
    case 0:
      *out = *target;  // by value: hand ownership back to the caller
      ::VariantInit(target);
      return;
    case 1:
      // A typed reference (not for VT_EMPTY and VT_NULL, which have none).
      if (vt != VT_EMPTY && vt != VT_NULL) {
        V_VT(out) = VT_BYREF | vt;
        if (vt == VT_DECIMAL)
          V_DECIMALREF(out) = &V_DECIMAL(target);
        else
          V_BYREF(out) = &target->lVal;  // every member of the union starts there
        return;
      }
      [[fallthrough]];
    case 2:
      V_VT(out) = VT_VARIANT | VT_BYREF;
      V_VARIANTREF(out) = target;
      return;
    default: {
      // An object whose default member answers the value (not for objects themselves).
      if (vt == VT_DISPATCH || vt == VT_UNKNOWN || (vt & VT_ARRAY)) {
        V_VT(out) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(out) = target;
        return;
      }
      V_VT(out) = VT_DISPATCH;
      V_DISPATCH(out) = new Object(target, true);
      return;
    }
  }
}

}  // namespace fuzz
