#include "support/container.h"

#include <algorithm>
#include <stdexcept>

#include "support/typelib.h"

namespace container {

namespace {

template <typename F>
void Load(HMODULE module, const char* name, F& fn) {
  fn = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

void SnapshotInto(HKEY root, const std::wstring& key, std::vector<std::wstring>& lines) {
  for (const auto& name : ValueNames(root, key)) {
    auto value = ReadRegString(root, key, name.empty() ? nullptr : name.c_str());
    lines.push_back(key + L"|" + name + L"=" + value.value_or(L"<not a string>"));
  }
  for (const auto& child : SubkeyNames(root, key)) SnapshotInto(root, key + L"\\" + child, lines);
}

}  // namespace

const Server* TheServer() {
  static const Server server = [] {
    Server s;
    s.path = host::OcxPath();
    if (s.path.empty()) return s;
    s.module = ::LoadLibraryW(s.path.c_str());
    if (!s.module) return s;
    Load(s.module, "DllGetClassObject", s.GetClassObject);
    Load(s.module, "DllCanUnloadNow", s.CanUnloadNow);
    Load(s.module, "DllRegisterServer", s.RegisterServer);
    Load(s.module, "DllUnregisterServer", s.UnregisterServer);
    Load(s.module, "DllInstall", s.Install);
    return s;
  }();
  return server.module ? &server : nullptr;
}

fw::com_ptr<IUnknown> CreateFromServer(REFCLSID clsid) {
  const Server* server = TheServer();
  if (!server) throw std::runtime_error("the control DLL (UDP_OCX) is not loaded");
  fw::com_ptr<IClassFactory> factory;
  if (FAILED(server->GetClassObject(clsid, IID_IClassFactory, factory.put_void())))
    throw std::runtime_error("no class object");
  fw::com_ptr<IUnknown> object;
  if (FAILED(factory->CreateInstance(nullptr, IID_IUnknown, object.put_void())))
    throw std::runtime_error("CreateInstance failed");
  return object;
}

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& key,
                                          const wchar_t* valueName) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, bytes = 0;
  std::optional<std::wstring> out;
  if (::RegQueryValueExW(k, valueName, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(k, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()),
                           &bytes) == ERROR_SUCCESS) {
      text.resize(bytes / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      out = text;
    }
  }
  ::RegCloseKey(k);
  return out;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

namespace {
// The sorted names that an enumeration (RegEnumKeyExW or RegEnumValueW) gives for a key.
template <typename Enumerate>
std::vector<std::wstring> EnumeratedNames(HKEY root, const std::wstring& key, Enumerate next) {
  std::vector<std::wstring> names;
  HKEY k = nullptr;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD n = 256;
    if (next(k, i, name, &n) != ERROR_SUCCESS) break;
    names.emplace_back(name, n);
  }
  ::RegCloseKey(k);
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& key) {
  return EnumeratedNames(root, key, [](HKEY k, DWORD i, wchar_t* name, DWORD* n) {
    return ::RegEnumKeyExW(k, i, name, n, nullptr, nullptr, nullptr, nullptr);
  });
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key) {
  return EnumeratedNames(root, key, [](HKEY k, DWORD i, wchar_t* name, DWORD* n) {
    return ::RegEnumValueW(k, i, name, n, nullptr, nullptr, nullptr, nullptr);
  });
}

std::vector<std::wstring> Snapshot(HKEY root, const std::wstring& key) {
  std::vector<std::wstring> lines;
  if (KeyExists(root, key)) SnapshotInto(root, key, lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool DeleteTree(HKEY root, const std::wstring& key) {
  LONG r = ::RegDeleteTreeW(root, key.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

// TestContainer

namespace {
constexpr wchar_t kContainerClass[] = L"UdpTestContainer";
}

TestContainer::TestContainer() {
  static const bool registered = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kContainerClass;
    return ::RegisterClassW(&wc) != 0;
  }();
  (void)registered;
  window_ = ::CreateWindowExW(0, kContainerClass, L"form", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                              0, 320, 240, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

TestContainer::~TestContainer() {
  if (window_) ::DestroyWindow(window_);
}

STDMETHODIMP TestContainer::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
    *out = static_cast<IOleClientSite*>(static_cast<host::ClientSite*>(this));
  else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow))
    *out = static_cast<IOleInPlaceSite*>(this);
  else if (IsEqualIID(iid, IID_IOleInPlaceFrame) || IsEqualIID(iid, IID_IOleInPlaceUIWindow))
    *out = static_cast<IOleInPlaceFrame*>(this);
  else if (IsEqualIID(iid, IID_IOleControlSite))
    *out = static_cast<IOleControlSite*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  return S_OK;
}

STDMETHODIMP TestContainer::GetWindow(HWND* w) {
  *w = window_;
  return S_OK;
}
STDMETHODIMP TestContainer::OnInPlaceActivate() {
  ++inPlaceActivations;
  return S_OK;
}
STDMETHODIMP TestContainer::OnUIActivate() {
  ++uiActivations;
  return S_OK;
}
STDMETHODIMP TestContainer::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                             LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  *frame = static_cast<IOleInPlaceFrame*>(this);
  *doc = nullptr;
  *pos = position;
  *clip = position;
  info->fMDIApp = FALSE;
  info->hwndFrame = window_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}
STDMETHODIMP TestContainer::OnUIDeactivate(BOOL) {
  ++uiDeactivations;
  return S_OK;
}
STDMETHODIMP TestContainer::OnInPlaceDeactivate() {
  ++inPlaceDeactivations;
  return S_OK;
}
STDMETHODIMP TestContainer::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  activeObject = object;
  return S_OK;
}
STDMETHODIMP TestContainer::GetExtendedControl(IDispatch** d) {
  *d = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP TestContainer::ShowPropertyFrame() {
  ++propertyFrameRequests;
  return offersPropertyFrame ? S_OK : E_NOTIMPL;
}

}  // namespace container
