// IDispatch as an interpreter of a control's entry table.
#pragma once
#include <array>
#include <span>

#include "framework/dispatch_table.h"

namespace fw {

class Dispatcher {
 public:
  explicit Dispatcher(std::span<const DispEntry> entries);

  std::span<const DispEntry> Entries() const { return m_entries; }
  const DispEntry* Find(DISPID id) const;
  // Matches without regard to case.
  const DispEntry* Find(const wchar_t* name) const;

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;
  // `source` names the control in the exception information of a failed call.
  HRESULT Invoke(COleControl* self, bool initialised, DISPID id, REFIID iid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                 const wchar_t* source = nullptr) const;

 private:
  HRESULT InvokeEntry(COleControl* self, const DispEntry& entry, WORD flags,
                      const DISPPARAMS& params, VARIANT* result, UINT* argErr) const;
  static HRESULT ConvertArgs(std::span<const DispParam> declared, const DISPPARAMS& params,
                             DispArgs& args, UINT* argErr);
  static HRESULT GetMember(COleControl* self, const DispEntry& entry, VARIANT* result);
  static HRESULT PutMember(COleControl* self, const DispEntry& entry, VARIANT* value, UINT* argErr);
  static HRESULT StoreResult(VARTYPE declared, VARIANT& produced, VARIANT* result);

  std::span<const DispEntry> m_entries;
  // Every call starts by finding its entry: the usual small DISPIDs find it in one step (its
  // position + 1, 0 for none) instead of a walk through the table.
  static constexpr DISPID kIndexedIds = 64;
  std::array<unsigned char, kIndexedIds> m_positionById{};
};

// The status of a put on a property that cannot be set (CTL_E_SETNOTSUPPORTED).
inline constexpr SCODE kSetNotSupported = static_cast<SCODE>(0x800A017F);

}  // namespace fw
