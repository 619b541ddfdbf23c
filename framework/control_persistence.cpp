// The control's persistence: its properties as a stream (IPersistStreamInit), a property bag
// (IPersistPropertyBag) and a storage's "Contents" stream (IPersistStorage), all through the one
// exchange routine of the derived control (DoPropExchange).
#include "framework/automation_error.h"
#include "framework/ole_control.h"

namespace fw {

namespace {
constexpr wchar_t kContentsStream[] = L"Contents";
}  // namespace

STDMETHODIMP COleControl::GetClassID(CLSID* clsid) noexcept {
  if (!clsid) return E_POINTER;
  *clsid = *m_info.clsid;
  return S_OK;
}

STDMETHODIMP COleControl::IsDirty() noexcept { return m_modified ? S_OK : S_FALSE; }

HRESULT COleControl::ExchangeAll(CPropExchange& px) {
  return ComBarrier([&] { DoPropExchange(px); });
}

HRESULT COleControl::LoadFrom(CPropExchange& px) {
  const HRESULT hr = ExchangeAll(px);
  if (SUCCEEDED(hr)) {
    m_initialised = true;
    m_modified = false;
  }
  return hr;
}

HRESULT COleControl::SaveTo(CPropExchange& px, bool clearDirty) {
  const HRESULT hr = ExchangeAll(px);
  if (SUCCEEDED(hr) && clearDirty) m_modified = false;
  return hr;
}

// IPersistStreamInit

STDMETHODIMP COleControl::InitNew() noexcept {
  if (m_initialised) return CO_E_ALREADYINITIALIZED;
  CResetPropExchange px;
  return LoadFrom(px);
}

STDMETHODIMP COleControl::Load(LPSTREAM stream) noexcept {
  if (!stream) return E_POINTER;
  if (m_initialised) return CO_E_ALREADYINITIALIZED;
  return ComBarrier([&] {
    PropertyStore store;
    HRESULT hr = store.ReadFrom(stream, m_info.streamSignature);
    if (FAILED(hr)) return hr;
    CMemoryPropExchange px(true, store.values);
    return LoadFrom(px);
  });
}

STDMETHODIMP COleControl::Save(LPSTREAM stream, BOOL clearDirty) noexcept {
  if (!stream) return E_POINTER;
  return ComBarrier([&] {
    PropertyStore store;
    CMemoryPropExchange px(false, store.values);
    HRESULT hr = ExchangeAll(px);
    if (SUCCEEDED(hr)) hr = store.WriteTo(stream, m_info.streamSignature);
    if (SUCCEEDED(hr) && clearDirty) m_modified = false;
    return hr;
  });
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* size) noexcept {
  if (!size) return E_POINTER;
  return ComBarrier([&] {
    com_ptr<IStream> probe;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, probe.put());
    if (SUCCEEDED(hr)) hr = Save(probe.get(), FALSE);
    STATSTG stat = {};
    if (SUCCEEDED(hr)) hr = probe->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) *size = stat.cbSize;
    return hr;
  });
}

// IPersistPropertyBag

STDMETHODIMP COleControl::Load(IPropertyBag* bag, IErrorLog* log) noexcept {
  if (!bag) return E_POINTER;
  if (m_initialised) return CO_E_ALREADYINITIALIZED;
  CBagPropExchange px(true, bag, log);
  return LoadFrom(px);
}

STDMETHODIMP COleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) noexcept {
  if (!bag) return E_POINTER;
  CBagPropExchange px(false, bag, nullptr);
  return SaveTo(px, clearDirty);
}

// IPersistStorage

STDMETHODIMP COleControl::InitNew(IStorage* storage) noexcept {
  if (!storage) return E_POINTER;
  return InitNew();
}

STDMETHODIMP COleControl::Load(IStorage* storage) noexcept {
  if (!storage) return E_POINTER;
  if (m_initialised) return CO_E_ALREADYINITIALIZED;
  com_ptr<IStream> stream;
  HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   stream.put());
  if (FAILED(hr)) return hr;
  return Load(stream.get());
}

STDMETHODIMP COleControl::Save(IStorage* storage, BOOL sameAsLoad) noexcept {
  if (!storage) return E_POINTER;
  HRESULT hr = ::WriteClassStg(storage, *m_info.clsid);
  if (FAILED(hr)) return hr;
  com_ptr<IStream> stream;
  hr = storage->CreateStream(kContentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             0, 0, stream.put());
  if (FAILED(hr)) return hr;
  return Save(stream.get(), sameAsLoad);
}

STDMETHODIMP COleControl::SaveCompleted(IStorage*) noexcept { return S_OK; }
STDMETHODIMP COleControl::HandsOffStorage() noexcept { return S_OK; }

// The framework's part of the exchange

bool COleControl::ExchangeVersion(CPropExchange& px, DWORD version, bool convert) {
  ULONG stored = version;
  PX_ULong(px, L"_Version", stored, version);
  // Older versions are read as they are when conversion is allowed; newer ones never.
  return !px.IsLoading() || stored == version || (convert && stored < version);
}

void COleControl::ExchangeExtent(CPropExchange& px) {
  LONG cx = m_extent.cx, cy = m_extent.cy;
  PX_Long(px, L"_ExtentX", cx, m_extent.cx);
  PX_Long(px, L"_ExtentY", cy, m_extent.cy);
  if (px.IsLoading()) {
    SIZEL loaded{cx, cy};
    if (OnSetExtent(loaded)) m_extent = loaded;
  }
}

void COleControl::DoPropExchange(CPropExchange& px) { ExchangeExtent(px); }

}  // namespace fw
