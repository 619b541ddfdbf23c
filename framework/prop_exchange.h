// Property exchange: one routine of the control both loads and saves its persisted properties.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <map>
#include <string>

#include "framework/unique_any.h"

namespace fw {

class CPropExchange {
 public:
  explicit CPropExchange(bool loading) : m_loading(loading) {}
  virtual ~CPropExchange() = default;
  bool IsLoading() const { return m_loading; }

  // Loading: value receives the stored property converted to type, or a copy of the default.
  // Saving: value is stored. Returns false when the property could not be exchanged.
  virtual bool ExchangeProp(const wchar_t* name, VARTYPE type, VARIANT& value,
                            const VARIANT& defaultValue) = 0;

 private:
  bool m_loading;
};

// Properties held by name in memory; the framework streams this map for IPersistStreamInit.
class CMemoryPropExchange : public CPropExchange {
 public:
  using Store = std::map<std::wstring, VARIANT>;
  CMemoryPropExchange(bool loading, Store& store) : CPropExchange(loading), m_store(store) {}
  bool ExchangeProp(const wchar_t* name, VARTYPE type, VARIANT& value,
                    const VARIANT& defaultValue) override;

 private:
  Store& m_store;
};

// A property store that clears its values. In a stream the properties follow the control's
// signature; a stream that does not begin with it is refused.
struct PropertyStore {
  CMemoryPropExchange::Store values;
  PropertyStore() = default;
  PropertyStore(const PropertyStore&) = delete;
  PropertyStore& operator=(const PropertyStore&) = delete;
  ~PropertyStore();
  HRESULT WriteTo(IStream* stream, DWORD signature) const;
  HRESULT ReadFrom(IStream* stream, DWORD signature);
};

// Reads and writes an IPropertyBag.
class CBagPropExchange : public CPropExchange {
 public:
  CBagPropExchange(bool loading, IPropertyBag* bag, IErrorLog* log)
      : CPropExchange(loading), m_bag(bag), m_log(log) {}
  bool ExchangeProp(const wchar_t* name, VARTYPE type, VARIANT& value,
                    const VARIANT& defaultValue) override;

 private:
  IPropertyBag* m_bag;
  IErrorLog* m_log;
};

// Loading a new control: every property takes its default.
class CResetPropExchange : public CPropExchange {
 public:
  CResetPropExchange() : CPropExchange(true) {}
  bool ExchangeProp(const wchar_t*, VARTYPE, VARIANT& value, const VARIANT& defaultValue) override {
    return SUCCEEDED(::VariantCopy(&value, const_cast<VARIANT*>(&defaultValue)));
  }
};

// Typed exchanges over ExchangeProp.
bool PX_Bool(CPropExchange& px, const wchar_t* name, BOOL& value, BOOL defaultValue);
bool PX_Short(CPropExchange& px, const wchar_t* name, short& value, short defaultValue);
bool PX_Long(CPropExchange& px, const wchar_t* name, LONG& value, LONG defaultValue);
bool PX_ULong(CPropExchange& px, const wchar_t* name, ULONG& value, ULONG defaultValue);
bool PX_String(CPropExchange& px, const wchar_t* name, std::wstring& value,
               const std::wstring& defaultValue);

}  // namespace fw
