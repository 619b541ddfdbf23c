// The control object's core: construction, the automation calls and the connection points. The
// other concerns of COleControl have files of their own: control_window.cpp (the window and the
// message map), control_events.cpp (raising and holding events), control_persistence.cpp,
// control_activation.cpp (IOleObject, in-place activation, verbs), control_drawing.cpp and
// control_type_info.cpp.
#include "framework/ole_control.h"

#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/enumerator.h"

namespace fw {

namespace {

LONG HimetricFromPixels(LONG pixels, int axis) {
  const unique_hdc_window screen = GetWindowDc(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen.get().dc, axis) : 96;
  return ::MulDiv(pixels, 2540, dpi ? dpi : 96);
}

}  // namespace

COleControl::COleControl(const ControlClassInfo& info)
    : info_(info),
      dispatcher_(info.dispatch),
      events_(static_cast<IDispatch*>(this), this, *info.eventsIid) {
  extent_.cx = HimetricFromPixels(info.initialSizePixels.cx, LOGPIXELSX);
  extent_.cy = HimetricFromPixels(info.initialSizePixels.cy, LOGPIXELSY);
}

COleControl::~COleControl() {
  DestroyControlWindow();
  events_.DisconnectAll();
}

void* COleControl::QueryOther(REFIID iid) {
  return IsEqualIID(iid, *info_.dispatchIid) ? static_cast<IDispatch*>(this) : nullptr;
}

// IDispatch (the type information is in control_type_info.cpp)

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  return dispatcher_.Invoke(this, initialised_, id, iid, flags, params, result, excepInfo, argErr,
                            info_.userTypeName);
}

// IConnectionPointContainer

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
  IConnectionPoint* const points[] = {&events_};
  return CreateEnumerator<IEnumConnectionPoints>(points, out);
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, events_.iid())) return CONNECT_E_NOCONNECTION;
  *out = &events_;
  events_.AddRef();
  return S_OK;
}

// ISpecifyPropertyPages: the control lists no page of its own.

STDMETHODIMP COleControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace fw
