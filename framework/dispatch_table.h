// The plain entry tables that describe a control's automation surface, and what the dispatcher
// hands to the thunks of those entries.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "framework/unique_any.h"

namespace fw {

class COleControl;

// Boundary types of the entries: VT_I2, VT_I4, VT_R8, VT_BOOL, VT_BSTR (text), VT_VARIANT, and
// VT_EMPTY for a method without a result.
enum class DispBinding : unsigned char { Member, Accessors, Method };

struct DispParam {
  const wchar_t* name;
  VARTYPE type;
  // A VT_I4 parameter the caller may leave out (or pass as missing): it receives defaultValue.
  bool optional = false;
  LONG defaultValue = 0;
};

inline constexpr size_t kMaxDispParams = 4;

// The arguments of one call, converted to the declared types, in declared order.
class DispArgs {
 public:
  short I2(size_t i) const { return V_I2(&m_slots[i].value); }
  LONG I4(size_t i) const { return V_I4(&m_slots[i].value); }
  double R8(size_t i) const { return V_R8(&m_slots[i].value); }
  BOOL Bool(size_t i) const { return V_BOOL(&m_slots[i].value) ? 1 : 0; }
  // Text is read where it stands (the caller's string, or the converted copy): valid for the call.
  std::wstring_view Text(size_t i) const { return m_slots[i].text; }
  // The caller's own VARIANT (references included), or the missing-value VARIANT.
  VARIANT* Variant(size_t i) const { return m_slots[i].raw; }

 private:
  friend class Dispatcher;
  struct Slot {
    unique_variant value;
    std::wstring_view text;
    VARIANT* raw = nullptr;
  };
  mutable std::array<Slot, kMaxDispParams> m_slots;
};

using DispMemberFn = void* (*)(COleControl* self);
using DispNotifyFn = void (*)(COleControl* self);
using DispGetFn = void (*)(COleControl* self, VARIANT* result);
using DispPutFn = void (*)(COleControl* self, const DispArgs& value);
using DispCallFn = void (*)(COleControl* self, const DispArgs& args, VARIANT* result);

struct DispEntry {
  const wchar_t* name;
  DISPID dispid;
  DispBinding binding;
  VARTYPE type;  // the property's type, or the method's result type
  bool readOnly;
  DispMemberFn member;  // Member: the address of the member
  DispNotifyFn notify;  // Member: runs after every successful put, when set
  DispGetFn get;        // Accessors
  DispPutFn put;        // Accessors, absent when read-only
  DispCallFn call;      // Method
  std::span<const DispParam> params;
};

struct EventEntry {
  const wchar_t* name;
  DISPID dispid;
  std::span<const DispParam> params;  // VT_BOOL | VT_BYREF for a flag the sink may set
};

// Result helpers for thunks: each stores a value of the declared type.
void ResultI2(VARIANT* result, short value);
void ResultI4(VARIANT* result, LONG value);
void ResultR8(VARIANT* result, double value);
void ResultBool(VARIANT* result, LONG value);
void ResultText(VARIANT* result, const std::wstring& value);

}  // namespace fw
