// The automation surface as C++ constants, one per entry of typelib/udp_surface.h: the dispatch
// tables take a member's name, DISPID, kind, type, access and parameters from surface::Name and
// add only their thunks; the tests check the type library and the tables against kSurface.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <array>
#include <initializer_list>

#include "framework/dispatch_table.h"

namespace udp {

enum class OfferedBy : unsigned char { Both, ControlOnly, SocketOnly };

// A type of the list: what the dispatcher converts to and hands over, and what the type library
// declares.
struct SurfaceType {
  VARTYPE dispatcher;
  VARTYPE library;
};

// The list's names of the types (udp_surface.h says why some are wider for the dispatcher).
namespace surface_type {
inline constexpr SurfaceType Integer{VT_I2, VT_I2};
inline constexpr SurfaceType Long{VT_I4, VT_I4};
inline constexpr SurfaceType Boolean{VT_BOOL, VT_BOOL};
inline constexpr SurfaceType String{VT_BSTR, VT_BSTR};
inline constexpr SurfaceType Variant{VT_VARIANT, VT_VARIANT};
inline constexpr SurfaceType None{VT_EMPTY, VT_VOID};
inline constexpr SurfaceType BooleanByRef{VT_BOOL | VT_BYREF, VT_BOOL | VT_BYREF};
inline constexpr SurfaceType LongAsDouble{VT_R8, VT_I4};
inline constexpr SurfaceType IntegerAsLong{VT_I4, VT_I2};
inline constexpr SurfaceType ObjectAsVariant{VT_VARIANT, VT_DISPATCH};
}  // namespace surface_type

// The list's three access values: the dispatcher refuses a put on both read-only ones.
enum class SurfaceAccess : unsigned char { ReadWrite, ReadOnly, ReadOnlyUnmarked };
enum class Saving : unsigned char { NotSaved, Saved };

// Required; Defaulted, a number the caller may leave out; Optional, a Variant it may leave out.
enum class ParamUse : unsigned char { Required, Defaulted, Optional };
struct SurfaceParam {
  const wchar_t* name;
  SurfaceType type;
  ParamUse use;
  LONG defaultValue;
};

// One entry of the list. The base is what the dispatcher sees; the rest is the list's own view,
// for what the type library declares and which objects offer the member.
struct SurfaceMember : fw::DispDeclaration {
  SurfaceType surfaceType{};
  SurfaceAccess surfaceAccess = SurfaceAccess::ReadWrite;
  OfferedBy offeredBy = OfferedBy::Both;
  Saving saving = Saving::NotSaved;
  bool event = false;
  std::array<SurfaceParam, fw::kMaxDispParams> surfaceParams{};

  constexpr bool OfferedByControl() const { return !event && offeredBy != OfferedBy::SocketOnly; }
  constexpr bool OfferedBySocket() const { return !event && offeredBy != OfferedBy::ControlOnly; }
  constexpr bool LibraryMarksReadOnly() const { return surfaceAccess == SurfaceAccess::ReadOnly; }
};

namespace detail {
consteval SurfaceMember Declared(const fw::DispDeclaration& d, SurfaceType type) {
  SurfaceMember m{};
  static_cast<fw::DispDeclaration&>(m) = d;
  m.surfaceType = type;
  return m;
}
consteval SurfaceMember Property(const wchar_t* name, DISPID id, SurfaceType type,
                                 SurfaceAccess access, OfferedBy offeredBy, Saving saving) {
  const auto dispatcherAccess =
      access == SurfaceAccess::ReadWrite ? fw::DispAccess::ReadWrite : fw::DispAccess::ReadOnly;
  SurfaceMember m =
      Declared(fw::DeclareProperty(name, id, type.dispatcher, dispatcherAccess), type);
  m.surfaceAccess = access;
  m.offeredBy = offeredBy;
  m.saving = saving;
  return m;
}
// The dispatcher fills in a number left out from the declaration; a Variant left out arrives as
// "not given" whether or not the library calls it optional.
consteval fw::DispParam DispatcherParam(const SurfaceParam& p) {
  if (p.use == ParamUse::Defaulted && p.type.dispatcher != VT_I4)
    fw::DeclarationRefused("the dispatcher fills in a Long only");
  if (p.use == ParamUse::Optional && p.type.dispatcher != VT_VARIANT)
    fw::DeclarationRefused("only a Variant arrives as not given");
  return {p.name, p.type.dispatcher, p.use == ParamUse::Defaulted, p.defaultValue};
}
consteval SurfaceMember Method(const wchar_t* name, DISPID id, SurfaceType result,
                               OfferedBy offeredBy, std::initializer_list<SurfaceParam> params) {
  SurfaceMember m = Declared(fw::DeclareMethod(name, id, result.dispatcher), result);
  if (params.size() > fw::kMaxDispParams)
    fw::DeclarationRefused("more parameters than a call takes");
  for (const SurfaceParam& p : params) {
    m.surfaceParams[m.paramCount] = p;
    m.paramSlots[m.paramCount++] = DispatcherParam(p);
  }
  m.offeredBy = offeredBy;
  return m;
}
consteval SurfaceMember Event(const wchar_t* name, DISPID id,
                              std::initializer_list<SurfaceParam> params) {
  SurfaceMember m = Method(name, id, surface_type::None, OfferedBy::Both, params);
  m.event = true;
  return m;
}
}  // namespace detail

// The list's parameter forms, and a method's parenthesised parameters as braces.
#define UDP_PARAM(name, type) \
  ::udp::SurfaceParam { L"" #name, ::udp::surface_type::type, ::udp::ParamUse::Required, 0 }
#define UDP_PARAM_DEFAULT(name, type, value) \
  ::udp::SurfaceParam { L"" #name, ::udp::surface_type::type, ::udp::ParamUse::Defaulted, value }
#define UDP_PARAM_OPTIONAL(name) \
  ::udp::SurfaceParam { L"" #name, ::udp::surface_type::Variant, ::udp::ParamUse::Optional, 0 }
#define UDP_SURFACE_BRACED(...) \
  { __VA_ARGS__ }

namespace surface {
#define UDP_PROPERTY(name, dispid, type, access, offeredBy, saving)                  \
  inline constexpr SurfaceMember name =                                              \
      detail::Property(L"" #name, dispid, surface_type::type, SurfaceAccess::access, \
                       OfferedBy::offeredBy, Saving::saving);
#define UDP_METHOD(name, dispid, result, offeredBy, params) \
  inline constexpr SurfaceMember name = detail::Method(     \
      L"" #name, dispid, surface_type::result, OfferedBy::offeredBy, UDP_SURFACE_BRACED params);
#define UDP_EVENT(name, dispid, params) \
  inline constexpr SurfaceMember name = detail::Event(L"" #name, dispid, UDP_SURFACE_BRACED params);
#include "typelib/udp_surface.h"
}  // namespace surface

// Every entry of the list, in its order.
inline constexpr const SurfaceMember* kSurface[] = {
#define UDP_PROPERTY(name, dispid, type, access, offeredBy, saving) &surface::name,
#define UDP_METHOD(name, dispid, result, offeredBy, params) &surface::name,
#define UDP_EVENT(name, dispid, params) &surface::name,
#include "typelib/udp_surface.h"
};

#undef UDP_PARAM
#undef UDP_PARAM_DEFAULT
#undef UDP_PARAM_OPTIONAL
#undef UDP_SURFACE_BRACED

}  // namespace udp
