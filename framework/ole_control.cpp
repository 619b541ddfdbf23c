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
    : m_info(info),
      m_dispatcher(info.dispatch),
      m_events(static_cast<IDispatch*>(this), this, *info.eventsIid) {
  m_extent.cx = HimetricFromPixels(info.initialSizePixels.cx, LOGPIXELSX);
  m_extent.cy = HimetricFromPixels(info.initialSizePixels.cy, LOGPIXELSY);
}

COleControl::~COleControl() {
  DestroyControlWindow();
  m_events.DisconnectAll();
}

void* COleControl::QueryOther(REFIID iid) {
  return IsEqualIID(iid, *m_info.dispatchIid) ? static_cast<IDispatch*>(this) : nullptr;
}

// IDispatch (the type information is in control_type_info.cpp)

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  return m_dispatcher.Invoke(this, m_initialised, id, iid, flags, params, result, excepInfo, argErr,
                            m_info.userTypeName);
}

// IConnectionPointContainer

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
  IConnectionPoint* const points[] = {&m_events};
  return CreateEnumerator<IEnumConnectionPoints>(points, out);
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, m_events.iid())) return CONNECT_E_NOCONNECTION;
  *out = &m_events;
  m_events.AddRef();
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
