// The control object's core: construction and the property pages. The automation calls, the
// connection point and the class information are automation_object's; the other concerns of
// COleControl have files of their own: control_window.cpp (the window and the message map),
// control_events.cpp (raising and holding events), control_persistence.cpp,
// control_activation.cpp (IOleObject, in-place activation, verbs) and control_drawing.cpp.
#include "framework/ole_control.h"

#include <olectl.h>

#include "framework/automation_error.h"

namespace fw {

namespace {

LONG HimetricFromPixels(LONG pixels, int axis) {
  const unique_hdc_window screen = GetWindowDc(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen.get().dc, axis) : 96;
  return ::MulDiv(pixels, 2540, dpi ? dpi : 96);
}

}  // namespace

COleControl::COleControl(const ControlClassInfo& info)
    : automation_object({info.clsid, info.typeLibId, info.typeLibVersion, info.dispatchIid,
                         info.eventsIid}),
      m_info(info) {
  m_extent.cx = HimetricFromPixels(info.initialSizePixels.cx, LOGPIXELSX);
  m_extent.cy = HimetricFromPixels(info.initialSizePixels.cy, LOGPIXELSY);
}

COleControl::~COleControl() { DestroyControlWindow(); }

// ISpecifyPropertyPages: the control lists no page of its own.

STDMETHODIMP COleControl::GetPages(CAUUID* pages) noexcept {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace fw
