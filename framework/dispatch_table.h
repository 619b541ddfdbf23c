// The plain entry tables that describe an automation object's surface, typed on the object's class,
// and what the dispatcher hands to the thunks of those entries.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "framework/unique_any.h"

namespace fw {

// Boundary types of the entries: VT_I2, VT_I4, VT_R8, VT_BOOL, VT_BSTR (text), VT_VARIANT, and
// VT_EMPTY for a method without a result.
enum class DispBinding : unsigned char { Member, Accessors, Method };
enum class DispKind : unsigned char { Property, Method };
// The dispatcher refuses every put on a read-only property.
enum class DispAccess : unsigned char { ReadWrite, ReadOnly };

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
  friend class DispatchCore;
  struct Slot {
    unique_variant value;
    std::wstring_view text;
    VARIANT* raw = nullptr;
  };
  mutable std::array<Slot, kMaxDispParams> m_slots;
};

// Never constant: a declaration or a table entry whose making calls it does not compile, and the
// compiler shows the reason given. Both are made at compile time only (consteval).
inline void DeclarationRefused(const char* /*why*/) {}

// What a surface declares of one member, whoever owns it and before any table binds it: name,
// identifier, kind, type, access and parameters. A table's entry takes all of it from here and
// adds only its thunks, so that a surface written down once serves every table of it.
struct DispDeclaration {
  const wchar_t* name = nullptr;
  DISPID dispid = 0;
  DispKind kind = DispKind::Property;
  VARTYPE type = VT_EMPTY;  // the property's type, or the method's result type
  DispAccess access = DispAccess::ReadWrite;
  std::array<DispParam, kMaxDispParams> paramSlots{};
  size_t paramCount = 0;

  constexpr std::span<const DispParam> Params() const { return {paramSlots.data(), paramCount}; }
};

consteval DispDeclaration DeclareProperty(const wchar_t* name, DISPID id, VARTYPE type,
                                          DispAccess access = DispAccess::ReadWrite) {
  return {name, id, DispKind::Property, type, access};
}
consteval DispDeclaration DeclareMethod(const wchar_t* name, DISPID id, VARTYPE result,
                                        std::initializer_list<DispParam> params = {}) {
  DispDeclaration d{name, id, DispKind::Method, result};
  if (params.size() > kMaxDispParams) DeclarationRefused("more parameters than a call takes");
  for (const DispParam& p : params) d.paramSlots[d.paramCount++] = p;
  return d;
}

// What is known of one member of an automation surface whoever owns it: its declaration, and how
// the table binds it.
struct DispMember : DispDeclaration {
  DispBinding binding;
};

// A member bound to its owner's class: the compiler checks every binding, and the dispatcher hands
// each thunk the object it was called on.
template <typename Owner>
struct DispEntry : DispMember {
  using GetFn = void (*)(Owner& self, VARIANT* result);
  using PutFn = void (*)(Owner& self, const DispArgs& value);
  using CallFn = void (*)(Owner& self, const DispArgs& args, VARIANT* result);

  GetFn get;    // Member, Accessors
  PutFn put;    // Member (stores, then notifies), Accessors; absent when read-only
  CallFn call;  // Method
};

// Result helpers for thunks: each stores a value of the declared type.
void ResultI2(VARIANT* result, short value);
void ResultI4(VARIANT* result, LONG value);
void ResultR8(VARIANT* result, double value);
void ResultBool(VARIANT* result, LONG value);
void ResultText(VARIANT* result, const std::wstring& value);

namespace detail {
// The automation type of a field, and how a field of that type is read and written.
template <typename T>
struct FieldType;
template <>
struct FieldType<short> {
  static constexpr VARTYPE kType = VT_I2;
  static void Get(VARIANT* r, short v) { ResultI2(r, v); }
  static short Put(const DispArgs& a) { return a.I2(0); }
};
template <>
struct FieldType<LONG> {
  static constexpr VARTYPE kType = VT_I4;
  static void Get(VARIANT* r, LONG v) { ResultI4(r, v); }
  static LONG Put(const DispArgs& a) { return a.I4(0); }
};
template <>
struct FieldType<double> {
  static constexpr VARTYPE kType = VT_R8;
  static void Get(VARIANT* r, double v) { ResultR8(r, v); }
  static double Put(const DispArgs& a) { return a.R8(0); }
};
template <>
struct FieldType<BOOL> {
  static constexpr VARTYPE kType = VT_BOOL;
  static void Get(VARIANT* r, BOOL v) { ResultBool(r, v); }
  static BOOL Put(const DispArgs& a) { return a.Bool(0); }
};
template <>
struct FieldType<std::wstring> {
  static constexpr VARTYPE kType = VT_BSTR;
  static void Get(VARIANT* r, const std::wstring& v) { ResultText(r, v); }
  static std::wstring Put(const DispArgs& a) { return std::wstring(a.Text(0)); }
};

template <typename P>
struct FieldOf;
template <typename Owner, typename T>
struct FieldOf<T Owner::*> {
  using type = T;
};
}  // namespace detail

// The builders of an owner's table, one per kind of entry. Each takes the member's declaration and
// the thunks, and refuses at compile time thunks that the declaration contradicts.
template <typename Owner>
struct DispTable {
  using Entry = DispEntry<Owner>;

  // A read/write property stored in the field `Field`, of the declared type, and converted to it
  // on every put; `Notify`, a member function, runs after each successful put when given.
  template <auto Field, auto Notify = nullptr>
  static consteval Entry Member(const DispDeclaration& d) {
    using Type = detail::FieldType<typename detail::FieldOf<decltype(Field)>::type>;
    if (d.kind != DispKind::Property) DeclarationRefused("a field is no method");
    if (d.access != DispAccess::ReadWrite) DeclarationRefused("every put writes a field");
    if (d.type != Type::kType) DeclarationRefused("the field is of another type");
    return {{d, DispBinding::Member},
            [](Owner& self, VARIANT* r) { Type::Get(r, self.*Field); },
            [](Owner& self, const DispArgs& a) {
              self.*Field = Type::Put(a);
              if constexpr (!std::is_null_pointer_v<decltype(Notify)>) (self.*Notify)();
            },
            nullptr};
  }
  // A property with accessors: a put accessor exactly when it is read/write.
  static consteval Entry Accessors(const DispDeclaration& d, typename Entry::GetFn get,
                                   typename Entry::PutFn put = nullptr) {
    if (d.kind != DispKind::Property) DeclarationRefused("accessors are no method");
    if ((put == nullptr) != (d.access == DispAccess::ReadOnly))
      DeclarationRefused("a put accessor is there exactly when the property is read/write");
    return {{d, DispBinding::Accessors}, get, put, nullptr};
  }
  static consteval Entry Method(const DispDeclaration& d, typename Entry::CallFn call) {
    if (d.kind != DispKind::Method) DeclarationRefused("a call is no property");
    return {{d, DispBinding::Method}, nullptr, nullptr, call};
  }
};

struct EventEntry {
  const wchar_t* name;
  DISPID dispid;
  std::span<const DispParam> params;  // VT_BOOL | VT_BYREF for a flag the sink may set
};

// An event as its declaration, a method's, says. The declaration must outlive the entry, which
// names its parameters.
consteval EventEntry Event(const DispDeclaration& d) {
  if (d.kind != DispKind::Method || d.type != VT_EMPTY)
    DeclarationRefused("an event is a call without a result");
  return {d.name, d.dispid, d.Params()};
}

}  // namespace fw
