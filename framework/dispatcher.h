// IDispatch as an interpreter of a control's entry table.
#pragma once
#include <span>

#include "framework/dispatch_table.h"

namespace fw {

class Dispatcher {
 public:
  explicit Dispatcher(std::span<const DispEntry> entries) : entries_(entries) {}

  const DispEntry* Find(DISPID id) const;
  const DispEntry* Find(const wchar_t* name) const;

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;
  HRESULT Invoke(COleControl* self, bool initialised, DISPID id, REFIID iid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) const;

 private:
  HRESULT InvokeEntry(COleControl* self, const DispEntry& entry, WORD flags, DISPPARAMS* params,
                      VARIANT* result, UINT* argErr) const;
  HRESULT ConvertArgs(const DispEntry& entry, std::span<const DispParam> declared,
                      DISPPARAMS* params, DispArgs& args, UINT* argErr) const;
  static HRESULT GetMember(COleControl* self, const DispEntry& entry, VARIANT* result);
  static HRESULT PutMember(COleControl* self, const DispEntry& entry, VARIANT* value);

  std::span<const DispEntry> entries_;
};

// The status of a put on a property that cannot be set.
inline constexpr SCODE kSetNotSupported = static_cast<SCODE>(0x800A017F);

}  // namespace fw
