// A client of whatever is registered on this machine, as an installed copy is used: built in both
// trees, so that a 64-bit and a 32-bit process each see their own registry view.
//
//   udp_registered_client exchange PROGID...   creates each class by its ProgID, sites and
//       initialises it when it is a control, connects a sink to its default source interface and
//       exchanges one datagram each way with a socket on 127.0.0.1; prints the DLL it loaded.
//   udp_registered_client leftovers OCX         lists what this process's registry view still holds
//       of the DLL's classes, ProgIDs, interfaces and type library (OCX: a copy of the DLL to read
//       the type library from); prints nothing when all is gone.
// Exit code 0 on success, 1 on any failure or leftover.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/host.h"

namespace {

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring LoadedDllPath() {
  wchar_t path[MAX_PATH] = {};
  HMODULE dll = ::GetModuleHandleW(L"udp.ocx");
  if (dll) ::GetModuleFileNameW(dll, path, MAX_PATH);
  // Registration writes the short form; the long one says where it lies.
  wchar_t longPath[MAX_PATH] = {};
  return ::GetLongPathNameW(path, longPath, MAX_PATH) ? longPath : path;
}

void Exchange(const std::wstring& progId) {
  CLSID clsid;
  if (FAILED(::CLSIDFromProgID(progId.c_str(), &clsid))) throw std::runtime_error("not registered");
  fw::com_ptr<IUnknown> object;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                object.put_void())))
    throw std::runtime_error("CoCreateInstance failed");
  // A control waits for its container, which the host is; an automation object works as created.
  host::Host h(object.get());

  const u_short port = host::FreeUdpPort();
  h.MustCall(L"Open", {std::to_wstring(port)});
  if (!host::WaitForReady(h)) throw std::runtime_error("no Ready");

  host::PeerSocket peer;
  const std::vector<unsigned char> request = {'p', 'i', 'n', 'g'}, reply = {'p', 'o', 'n', 'g'};
  peer.SendTo(port, request);
  if (!h.WaitForEvents(host::kReceived, 1)) throw std::runtime_error("no Received");
  const host::Event& received = h.sink().events.back();
  if (received.args.size() != 3 || received.args[2].bytes() != request)
    throw std::runtime_error("Received other data");
  h.MustCall(L"SendTo",
             {host::kLoopbackText, std::to_wstring(peer.port()), host::Var::Bytes(reply)});
  if (!h.WaitForEvents(host::kSent, 1)) throw std::runtime_error("no Sent");
  std::vector<unsigned char> answer;
  if (!peer.Receive(answer) || answer != reply) throw std::runtime_error("the peer got nothing");
  h.MustCall(L"Close");
  std::printf("%s: exchanged a datagram each way, %d-bit, %s\n", Narrow(progId).c_str(),
              static_cast<int>(sizeof(void*) * 8), Narrow(LoadedDllPath()).c_str());
}

// Keys of the classes roots (machine-wide, then the user's) that this process's view holds.
struct ClassesRoot {
  HKEY root;
  const wchar_t* path;
  const char* name;
};
const ClassesRoot kRoots[] = {{HKEY_LOCAL_MACHINE, L"Software\\Classes", "HKLM"},
                              {HKEY_CURRENT_USER, L"Software\\Classes", "HKCU"}};

bool KeyExists(const ClassesRoot& r, const std::wstring& sub) {
  HKEY key = nullptr;
  const std::wstring path = std::wstring(r.path) + L"\\" + sub;
  if (::RegOpenKeyExW(r.root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

std::wstring DefaultValue(HKEY parent, const std::wstring& sub) {
  wchar_t value[MAX_PATH * 2] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  constexpr DWORD kText = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  if (::RegGetValueW(parent, sub.c_str(), nullptr, kText, nullptr, value, &size) != ERROR_SUCCESS)
    return {};
  return value;
}

std::vector<std::wstring> SubkeysOf(HKEY parent, const std::wstring& sub) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(parent, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  ::RegCloseKey(key);
  return names;
}

bool NamesOurDll(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring file = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
  return ::CompareStringOrdinal(file.c_str(), -1, L"udp.ocx", -1, TRUE) == CSTR_EQUAL;
}

int Leftovers(const std::wstring& ocx) {
  fw::com_ptr<ITypeLib> lib;
  if (FAILED(::LoadTypeLibEx(ocx.c_str(), REGKIND_NONE, lib.put()))) {
    std::printf("cannot read the type library of %s\n", Narrow(ocx).c_str());
    return 1;
  }
  TLIBATTR* libAttr = nullptr;
  lib->GetLibAttr(&libAttr);
  const std::wstring libId = GuidText(libAttr->guid);
  lib->ReleaseTLibAttr(libAttr);
  std::set<std::wstring> classes, interfaces;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    fw::com_ptr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
    (attr->typekind == TKIND_COCLASS ? classes : interfaces).insert(GuidText(attr->guid));
    info->ReleaseTypeAttr(attr);
  }

  int found = 0;
  auto report = [&](const ClassesRoot& r, const std::wstring& key) {
    std::printf("left (%d-bit view): %s\\Software\\Classes\\%s\n",
                static_cast<int>(sizeof(void*) * 8), r.name, Narrow(key).c_str());
    ++found;
  };
  for (const auto& r : kRoots) {
    HKEY classesKey = nullptr;
    if (::RegOpenKeyExW(r.root, r.path, 0, KEY_READ, &classesKey) != ERROR_SUCCESS) continue;
    // Every class served by a file of ours, the property page included, and every class of the
    // type library even when its server entry is gone.
    std::set<std::wstring> ours = classes;
    for (const auto& clsid : SubkeysOf(classesKey, L"CLSID"))
      if (NamesOurDll(DefaultValue(classesKey, L"CLSID\\" + clsid + L"\\InprocServer32")))
        ours.insert(clsid);
    for (const auto& clsid : ours)
      if (KeyExists(r, L"CLSID\\" + clsid)) report(r, L"CLSID\\" + clsid);
    // A ProgID is any key whose CLSID names one of those classes.
    for (const auto& name : SubkeysOf(classesKey, L""))
      if (name[0] != L'.' && ours.count(DefaultValue(classesKey, name + L"\\CLSID")))
        report(r, name);
    for (const auto& iid : interfaces)
      if (KeyExists(r, L"Interface\\" + iid)) report(r, L"Interface\\" + iid);
    if (KeyExists(r, L"TypeLib\\" + libId)) report(r, L"TypeLib\\" + libId);
    ::RegCloseKey(classesKey);
  }
  return found ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"leftovers" && argc == 3) return Leftovers(argv[2]);
  if (mode != L"exchange" || argc < 3) {
    std::printf("usage: udp_registered_client exchange PROGID... | leftovers OCX\n");
    return 2;
  }
  ::OleInitialize(nullptr);
  int rc = 0;
  for (int i = 2; i < argc; ++i) {
    try {
      Exchange(argv[i]);
    } catch (const std::exception& e) {
      std::printf("%s: %s (%d-bit)\n", Narrow(argv[i]).c_str(), e.what(),
                  static_cast<int>(sizeof(void*) * 8));
      rc = 1;
    }
  }
  ::OleUninitialize();
  return rc;
}
