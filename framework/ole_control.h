// The ActiveX control base: what a container and a script host call on a control, and the services
// (events, exceptions, persistence, the window, the modified mark) that a derived control uses.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>
#include <deque>
#include <functional>
#include <span>

#include "framework/connection_point.h"
#include "framework/dispatch_table.h"
#include "framework/dispatcher.h"
#include "framework/implements.h"
#include "framework/prop_exchange.h"
#include "framework/type_library.h"
#include "framework/unique_any.h"

namespace fw {

class COleControl;
// The framework's own message to a control's window: raise the events held while frozen.
inline constexpr UINT kMsgRaiseHeldEvents = WM_APP + 1;

struct MessageMapEntry {
  UINT message;
  LRESULT (*handler)(COleControl* self, WPARAM wParam, LPARAM lParam);
};

// What a derived control tells the framework about itself: every fact of the product that the
// framework uses comes from here.
struct ControlClassInfo {
  const CLSID* clsid;
  const GUID* typeLibId;
  TypeLibVersion typeLibVersion;
  const IID* dispatchIid;
  const IID* eventsIid;
  std::span<const DispEntry> dispatch;
  std::span<const EventEntry> events;
  std::span<const MessageMapEntry> messages;
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

class COleControl
    : public implements<COleControl, IDispatch, IConnectionPointContainer, IOleObject,
                        IPersistStreamInit, IPersistPropertyBag, IPersistStorage, IOleInPlaceObject,
                        IOleInPlaceActiveObject, IOleControl, IViewObject2, IProvideClassInfo2,
                        ISpecifyPropertyPages> {
 public:
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT rect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

  // IPersist, IPersistStreamInit, IPersistPropertyBag
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

  // IPersistStorage: the properties live in the storage's "Contents" stream.
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage* storage) override;
  STDMETHODIMP HandsOffStorage() override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* msg) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IViewObject, IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                    HDC targetInfo, HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                    BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                           HDC targetInfo, LOGPALETTE** colors) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
  STDMETHODIMP Unfreeze(DWORD freeze) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) override;

  // IProvideClassInfo, IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;

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
  bool AreEventsHeld() const {
    return AreEventsFrozen() || m_raisingHeldEvents || !m_heldEvents.empty();
  }
  // Runs work now, or, while events are frozen, in its turn among the held events: for work whose
  // event decides what follows it.
  void WhenEventsThawed(std::function<void()> work);
  const ControlClassInfo& ClassInfo() const { return m_info; }

 protected:
  explicit COleControl(const ControlClassInfo& info);
  ~COleControl() override;
  // The class description's dispatch interface is answered as IDispatch.
  void* QueryOther(REFIID iid) override;

  // Overridables, in the framework's order.
  virtual void DoPropExchange(CPropExchange& px);
  virtual void OnDraw(HDC dc, const RECT& bounds);
  virtual void OnSetClientSite();
  virtual bool OnSetExtent(const SIZEL& size);
  // After the last thaw, once the held events have been raised.
  virtual void OnEventsThawed() {}
  // After each message the control's window handled for it: nothing of that message runs
  // further up the stack any more.
  virtual void OnMessageHandled() {}
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
  Dispatcher m_dispatcher;
  EventConnectionPoint m_events;
  bool m_initialised = false;
  bool m_modified = false;
  SIZEL m_extent{};  // HIMETRIC
  com_ptr<IOleClientSite> m_clientSite;
  com_ptr<IOleAdviseHolder> m_adviseHolder;
  unique_hwnd m_window;
  bool m_inPlaceActive = false;
  bool m_uiActive = false;
  LONG m_freezeEvents = 0;
  std::deque<std::function<void()>> m_heldEvents;
  bool m_heldEventsScheduled = false;
  bool m_raisingHeldEvents = false;
  com_ptr<IOleInPlaceSite> m_inPlaceSite;
  com_ptr<IOleInPlaceFrame> m_inPlaceFrame;
  com_ptr<IOleInPlaceUIWindow> m_inPlaceUIWindow;
  com_ptr<IAdviseSink> m_viewSink;
  DWORD m_viewSinkAspects = 0;
  DWORD m_viewSinkFlags = 0;
};

}  // namespace fw
