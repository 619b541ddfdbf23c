// The ActiveX control base: what a container and a script host call on a control, and the services
// (events, exceptions, persistence, the window, the modified mark) that a derived control uses.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>
#include <functional>
#include <span>

#include "framework/automation_object.h"
#include "framework/dispatch_table.h"
#include "framework/held_events.h"
#include "framework/prop_exchange.h"
#include "framework/type_library.h"
#include "framework/unique_any.h"

namespace fw {

// The framework's own message to a control's window: raise the events held while frozen.
inline constexpr UINT kMsgRaiseHeldEvents = WM_APP + 1;

// One of a control's own window messages and its handler, typed on the control's class.
template <typename Owner>
struct MessageMapEntry {
  UINT message;
  LRESULT (*handler)(Owner& self, WPARAM wParam, LPARAM lParam);
};

// Runs the handler `map` has for `message`; false when it has none.
template <typename Owner>
bool RunMessageHandler(std::span<const MessageMapEntry<Owner>> map, Owner& self, UINT message,
                       WPARAM wParam, LPARAM lParam, LRESULT& result) {
  for (const auto& entry : map)
    if (entry.message == message) {
      result = entry.handler(self, wParam, lParam);
      return true;
    }
  return false;
}

// What a derived control tells the framework about itself: every fact of the product that the
// framework uses comes from here.
struct ControlClassInfo {
  const CLSID* clsid;
  const GUID* typeLibId;
  TypeLibVersion typeLibVersion;
  const IID* dispatchIid;
  const IID* eventsIid;
  std::span<const EventEntry> events;
  SIZE initialSizePixels;
  DWORD miscStatus;
  const wchar_t* userTypeName;  // also the caption of the control's message boxes
  // The string resource that holds the user type name; userTypeName stands in without it.
  UINT userTypeNameId;
  // The window classes of the control's own window and of the hidden window that holds the
  // windows of controls not in place. The first control class that makes a window names them
  // for the module.
  const wchar_t* windowClass;
  const wchar_t* parkingWindowClass;
  // The first four bytes of the control's properties in a stream.
  DWORD streamSignature;
};

// IDispatch, the connection point and the class information come from automation_object; the
// derived control supplies its members through MemberId and InvokeMember.
class COleControl : public automation_object<COleControl, IDispatch, IOleObject, IPersistStreamInit,
                                             IPersistPropertyBag, IPersistStorage,
                                             IOleInPlaceObject, IOleInPlaceActiveObject,
                                             IOleControl, IViewObject2, ISpecifyPropertyPages> {
 public:
  // The derived control's members, as its typed dispatcher finds and runs them.
  virtual DISPID MemberId(const wchar_t* name) const = 0;
  virtual HRESULT InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;
  // Runs the derived control's handler of one of its own window messages; false when it has
  // none. It may throw: the window reports what it throws.
  virtual bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) noexcept override;
  STDMETHODIMP Close(DWORD saveOption) noexcept override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) noexcept override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) noexcept override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) noexcept override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT rect) noexcept override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) noexcept override;
  STDMETHODIMP Update() noexcept override;
  STDMETHODIMP IsUpToDate() noexcept override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) noexcept override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) noexcept override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) noexcept override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) noexcept override;
  STDMETHODIMP Unadvise(DWORD connection) noexcept override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) noexcept override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) noexcept override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) noexcept override;

  // IPersist, IPersistStreamInit, IPersistPropertyBag
  STDMETHODIMP GetClassID(CLSID* clsid) noexcept override;
  STDMETHODIMP IsDirty() noexcept override;
  STDMETHODIMP Load(LPSTREAM stream) noexcept override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) noexcept override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) noexcept override;
  STDMETHODIMP InitNew() noexcept override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) noexcept override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) noexcept override;

  // IPersistStorage: the properties live in the storage's "Contents" stream.
  STDMETHODIMP InitNew(IStorage* storage) noexcept override;
  STDMETHODIMP Load(IStorage* storage) noexcept override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) noexcept override;
  STDMETHODIMP SaveCompleted(IStorage* storage) noexcept override;
  STDMETHODIMP HandsOffStorage() noexcept override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* window) noexcept override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) noexcept override;
  STDMETHODIMP InPlaceDeactivate() noexcept override;
  STDMETHODIMP UIDeactivate() noexcept override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) noexcept override;
  STDMETHODIMP ReactivateAndUndo() noexcept override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg) noexcept override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) noexcept override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) noexcept override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                            BOOL frame) noexcept override;
  STDMETHODIMP EnableModeless(BOOL enable) noexcept override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) noexcept override;
  STDMETHODIMP OnMnemonic(MSG* msg) noexcept override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) noexcept override;
  STDMETHODIMP FreezeEvents(BOOL freeze) noexcept override;

  // IViewObject, IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                    HDC targetInfo, HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                    BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) noexcept override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                           HDC targetInfo, LOGPALETTE** colors) noexcept override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) noexcept override;
  STDMETHODIMP Unfreeze(DWORD freeze) noexcept override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target,
                         LPSIZEL size) noexcept override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) noexcept override;

  // Services for the derived control.
  void FireEvent(DISPID id, std::span<VARIANT> args);
  void SetModifiedFlag(bool modified = true) { m_modified = modified; }
  bool IsModified() const { return m_modified; }
  HWND GetSafeHwnd() const { return m_window.get(); }
  // Destroys the window, if any, and creates it anew as a child of the hidden parking window.
  void RecreateControlWindow();
  // Runs the control's handler of a message as its window does, for the window procedure and for
  // whoever receives messages on the control's behalf. False when the control has no handler.
  bool HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  bool IsInitialised() const { return m_initialised; }
  bool IsInPlaceActive() const { return m_inPlaceActive; }
  bool IsUIActive() const { return m_uiActive; }
  // Events raised while the container has frozen them are held, with copies of their
  // arguments, and raised in order from the control's window after the last thaw.
  bool AreEventsFrozen() const { return m_freezeEvents > 0; }
  // Frozen, or thawed with held events still to raise: what happens now must wait its turn.
  bool AreEventsHeld() const { return AreEventsFrozen() || m_heldEvents.Pending(); }
  // Runs work now, or, while events are frozen, in its turn among the held events: for work whose
  // event decides what follows it.
  void WhenEventsThawed(std::function<void()> work);
  const ControlClassInfo& ClassInfo() const { return m_info; }

 protected:
  explicit COleControl(const ControlClassInfo& info);
  ~COleControl() override;
  // Overridables, in the framework's order.
  virtual void DoPropExchange(CPropExchange& px);
  virtual void OnDraw(HDC dc, const RECT& bounds);
  virtual void OnSetClientSite();
  virtual bool OnSetExtent(const SIZEL& size);
  // After the last thaw, once the held events have been raised.
  // An event is about to reach the sinks (at once, or when held events are raised).
  virtual void OnRaisingEvent(DISPID) {}
  virtual void OnEventsThawed() {}
  // Drawing into a metafile; the base draws as on any other device.
  virtual void OnDrawMetafile(HDC dc, const RECT& bounds);
  // The Properties verb: the container's property frame when it offers one, else the
  // platform's, with the control's own pages.
  virtual HRESULT OnProperties(HWND parent);
  // The framework's own part of the exchange: the persistence version and the extent.
  // Returns whether the stored version can be read by this one.
  bool ExchangeVersion(CPropExchange& px, DWORD version, bool convert);
  void ExchangeExtent(CPropExchange& px);

 private:
  HRESULT ExchangeAll(CPropExchange& px);
  // Every way of initialising the control (new, from a stream, a bag or a storage) ends here.
  HRESULT LoadFrom(CPropExchange& px);
  HRESULT SaveTo(CPropExchange& px, bool clearDirty);
  HRESULT DoVerbInPlace(bool uiActivate, LPCRECT position);
  void CreateControlWindow();
  void DestroyControlWindow();
  // Hides the window and puts it back under the parking window: the control keeps it for the
  // messages it receives.
  void ParkControlWindow();
  void ScheduleHeldEvents();
  void RaiseHeldEvents();

  const ControlClassInfo& m_info;
  bool m_initialised = false;
  bool m_modified = false;
  SIZEL m_extent{};  // HIMETRIC
  com_ptr<IOleClientSite> m_clientSite;
  com_ptr<IOleAdviseHolder> m_adviseHolder;
  unique_hwnd m_window;
  bool m_inPlaceActive = false;
  bool m_uiActive = false;
  LONG m_freezeEvents = 0;
  HeldEvents m_heldEvents;
  bool m_heldEventsScheduled = false;
  com_ptr<IOleInPlaceSite> m_inPlaceSite;
  com_ptr<IOleInPlaceFrame> m_inPlaceFrame;
  com_ptr<IOleInPlaceUIWindow> m_inPlaceUIWindow;
  com_ptr<IAdviseSink> m_viewSink;
  DWORD m_viewSinkAspects = 0;
  DWORD m_viewSinkFlags = 0;
};

}  // namespace fw
