#include "framework/prop_exchange.h"

#include <oleauto.h>
#include <vector>

#include "framework/text.h"

namespace fw {

bool CMemoryPropExchange::ExchangeProp(const wchar_t* name, VARTYPE type, VARIANT& value,
                                       const VARIANT& defaultValue) {
  auto it = m_store.find(name);
  if (IsLoading()) {
    if (it == m_store.end() || FAILED(::VariantChangeType(&value, &it->second, 0, type)))
      return SUCCEEDED(::VariantCopy(&value, const_cast<VARIANT*>(&defaultValue)));
    return true;
  }
  if (it == m_store.end()) {
    it = m_store.emplace(name, VARIANT{}).first;
  }
  return SUCCEEDED(::VariantCopy(&it->second, &value));
}

PropertyStore::~PropertyStore() {
  for (auto& [name, v] : values) ::VariantClear(&v);
}

namespace {

HRESULT WriteBytes(IStream* s, const void* data, ULONG size) {
  ULONG written = 0;
  HRESULT hr = s->Write(data, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_WRITEFAULT;
}

HRESULT ReadBytes(IStream* s, void* data, ULONG size) {
  ULONG read = 0;
  HRESULT hr = s->Read(data, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : STG_E_READFAULT;
}

template <typename T>
HRESULT WriteValue(IStream* s, const T& v) {
  return WriteBytes(s, &v, sizeof v);
}
template <typename T>
HRESULT ReadValue(IStream* s, T& v) {
  return ReadBytes(s, &v, sizeof v);
}

HRESULT WriteText(IStream* s, std::wstring_view text) {
  DWORD n = static_cast<DWORD>(text.size());
  HRESULT hr = WriteValue(s, n);
  if (SUCCEEDED(hr) && n) hr = WriteBytes(s, text.data(), n * sizeof(wchar_t));
  return hr;
}

HRESULT ReadText(IStream* s, std::wstring& text) {
  DWORD n = 0;
  HRESULT hr = ReadValue(s, n);
  if (FAILED(hr)) return hr;
  if (n > (1u << 24)) return STG_E_READFAULT;
  text.assign(n, L'\0');
  return n ? ReadBytes(s, text.data(), n * sizeof(wchar_t)) : S_OK;
}

}  // namespace

// Each property: its name, its type and its value; integers little-endian, texts UTF-16.
HRESULT PropertyStore::WriteTo(IStream* s, DWORD signature) const {
  HRESULT hr = WriteValue(s, signature);
  if (SUCCEEDED(hr)) hr = WriteValue(s, static_cast<DWORD>(values.size()));
  for (const auto& [name, v] : values) {
    if (FAILED(hr)) break;
    hr = WriteText(s, name);
    if (SUCCEEDED(hr)) hr = WriteValue(s, V_VT(&v));
    if (FAILED(hr)) break;
    switch (V_VT(&v)) {
      case VT_I2:
        hr = WriteValue(s, V_I2(&v));
        break;
      case VT_BOOL:
        hr = WriteValue(s, V_BOOL(&v));
        break;
      case VT_I4:
        hr = WriteValue(s, V_I4(&v));
        break;
      case VT_UI4:
        hr = WriteValue(s, V_UI4(&v));
        break;
      case VT_BSTR:
        hr = WriteText(s, WideFromBstr(V_BSTR(&v)));
        break;
      default:
        hr = E_INVALIDARG;
    }
  }
  return hr;
}

HRESULT PropertyStore::ReadFrom(IStream* s, DWORD signature) {
  DWORD stored = 0, count = 0;
  HRESULT hr = ReadValue(s, stored);
  if (SUCCEEDED(hr) && stored != signature) hr = STG_E_INVALIDHEADER;
  if (SUCCEEDED(hr)) hr = ReadValue(s, count);
  for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
    std::wstring name;
    VARTYPE vt = VT_EMPTY;
    hr = ReadText(s, name);
    if (SUCCEEDED(hr)) hr = ReadValue(s, vt);
    if (FAILED(hr)) break;
    VARIANT v{};
    switch (vt) {
      case VT_I2:
        hr = ReadValue(s, V_I2(&v));
        break;
      case VT_BOOL:
        hr = ReadValue(s, V_BOOL(&v));
        break;
      case VT_I4:
        hr = ReadValue(s, V_I4(&v));
        break;
      case VT_UI4:
        hr = ReadValue(s, V_UI4(&v));
        break;
      case VT_BSTR: {
        std::wstring text;
        hr = ReadText(s, text);
        if (SUCCEEDED(hr)) {
          V_BSTR(&v) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
          if (!V_BSTR(&v)) hr = E_OUTOFMEMORY;
        }
        break;
      }
      default:
        hr = STG_E_READFAULT;
    }
    if (FAILED(hr)) break;
    V_VT(&v) = vt;
    auto [it, inserted] = values.emplace(std::move(name), v);
    if (!inserted) {
      ::VariantClear(&it->second);
      it->second = v;
    }
  }
  return hr;
}

bool CBagPropExchange::ExchangeProp(const wchar_t* name, VARTYPE type, VARIANT& value,
                                    const VARIANT& defaultValue) {
  if (IsLoading()) {
    // The bag fills this, and may clear it first or leave it untouched when the name is missing:
    // of the requested type, with a null string and a zero value, either is harmless.
    unique_variant read;
    V_VT(&read) = type;
    if (FAILED(m_bag->Read(name, &read, m_log)) ||
        FAILED(::VariantChangeType(&value, &read, 0, type)))
      return SUCCEEDED(::VariantCopy(&value, const_cast<VARIANT*>(&defaultValue)));
    return true;
  }
  return SUCCEEDED(m_bag->Write(name, &value));
}

namespace {

template <typename Fill, typename Take>
bool Exchange(CPropExchange& px, const wchar_t* name, VARTYPE type, Fill fill, Take take) {
  unique_variant value, def;
  fill(value, def);
  bool ok = px.ExchangeProp(name, type, value, def);
  if (ok && px.IsLoading() && V_VT(&value) == type) take(value);
  return ok;
}

}  // namespace

bool PX_Bool(CPropExchange& px, const wchar_t* name, BOOL& value, BOOL defaultValue) {
  return Exchange(
      px, name, VT_BOOL,
      [&](VARIANT& v, VARIANT& d) {
        V_VT(&v) = V_VT(&d) = VT_BOOL;
        V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
        V_BOOL(&d) = defaultValue ? VARIANT_TRUE : VARIANT_FALSE;
      },
      [&](const VARIANT& v) { value = V_BOOL(&v) ? TRUE : FALSE; });
}

bool PX_Short(CPropExchange& px, const wchar_t* name, short& value, short defaultValue) {
  return Exchange(
      px, name, VT_I2,
      [&](VARIANT& v, VARIANT& d) {
        V_VT(&v) = V_VT(&d) = VT_I2;
        V_I2(&v) = value;
        V_I2(&d) = defaultValue;
      },
      [&](const VARIANT& v) { value = V_I2(&v); });
}

bool PX_Long(CPropExchange& px, const wchar_t* name, LONG& value, LONG defaultValue) {
  return Exchange(
      px, name, VT_I4,
      [&](VARIANT& v, VARIANT& d) {
        V_VT(&v) = V_VT(&d) = VT_I4;
        V_I4(&v) = value;
        V_I4(&d) = defaultValue;
      },
      [&](const VARIANT& v) { value = V_I4(&v); });
}

bool PX_ULong(CPropExchange& px, const wchar_t* name, ULONG& value, ULONG defaultValue) {
  return Exchange(
      px, name, VT_UI4,
      [&](VARIANT& v, VARIANT& d) {
        V_VT(&v) = V_VT(&d) = VT_UI4;
        V_UI4(&v) = value;
        V_UI4(&d) = defaultValue;
      },
      [&](const VARIANT& v) { value = V_UI4(&v); });
}

bool PX_String(CPropExchange& px, const wchar_t* name, std::wstring& value,
               const std::wstring& defaultValue) {
  return Exchange(
      px, name, VT_BSTR,
      [&](VARIANT& v, VARIANT& d) {
        V_BSTR(&v) = AllocBstr(value);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&d) = AllocBstr(defaultValue);
        V_VT(&d) = VT_BSTR;
      },
      [&](const VARIANT& v) { value = WideFromBstr(V_BSTR(&v)); });
}

}  // namespace fw
