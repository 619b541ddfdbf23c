// A test container for the built control DLL: the module loaded by its path (UDP_OCX), registry
// readers, and a container window with the sites a form designer gives its controls.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/unique_any.h"
#include "support/host.h"

namespace container {

// The built DLL, loaded once for the process and never unloaded (its windows may outlive a test).
struct Server {
  HMODULE module = nullptr;
  std::wstring path;  // as the Windows side sees it
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* Install)(BOOL, LPCWSTR) = nullptr;
};
// Null when UDP_OCX is not set or the DLL does not load.
const Server* TheServer();
// A new object of clsid from the DLL's own class object.
fw::com_ptr<IUnknown> CreateFromServer(REFCLSID clsid);

// Registry
std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& key,
                                          const wchar_t* valueName = nullptr);
bool KeyExists(HKEY root, const std::wstring& key);
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& key);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& key);
// Every key and value below root\key as sorted "path|name=value" lines.
std::vector<std::wstring> Snapshot(HKEY root, const std::wstring& key);
bool DeleteTree(HKEY root, const std::wstring& key);

// A container window with a client site, an in-place site, a frame and a control site.
class TestContainer : public host::ClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IOleControlSite {
 public:
  TestContainer();
  ~TestContainer();
  TestContainer(const TestContainer&) = delete;
  TestContainer& operator=(const TestContainer&) = delete;

  HWND window() const { return window_; }

  // What the control did to its container.
  int inPlaceActivations = 0, inPlaceDeactivations = 0, uiActivations = 0, uiDeactivations = 0;
  int propertyFrameRequests = 0;                    // and showObjectCalls, from the client site
  IOleInPlaceActiveObject* activeObject = nullptr;  // as last set, not held
  bool offersPropertyFrame = false;
  RECT position = {10, 20, 42, 52};

  // IUnknown (the container lives on the test's stack)
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* w) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override;
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override;
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** d) override;
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override;

 private:
  HWND window_ = nullptr;
};

}  // namespace container
