// Drawing the control: IViewObject2 for the container, the derived control's picture (OnDraw),
// and its recording into a metafile.
#include "framework/automation_error.h"
#include "framework/ole_control.h"

namespace fw {

// IViewObject, IViewObject2

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                               LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                               ULONG_PTR) noexcept {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc) return E_INVALIDARG;
  RECT r = {};
  if (bounds)
    r = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  else if (m_inPlaceActive && m_window)
    ::GetClientRect(m_window.get(), &r);
  else
    return E_INVALIDARG;
  return ComBarrier([&] {
    const int saved = ::SaveDC(dc);
    const DWORD kind = ::GetObjectType(dc);
    if (kind == OBJ_METADC || kind == OBJ_ENHMETADC ||
        ::GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE)
      OnDrawMetafile(dc, r);
    else
      OnDraw(dc, r);
    if (saved) ::RestoreDC(dc, saved);
    return S_OK;
  });
}

STDMETHODIMP COleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                      LOGPALETTE** colors) noexcept {
  if (!colors) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;  // no palette of its own
}

STDMETHODIMP COleControl::Freeze(DWORD, LONG, void*, DWORD* freeze) noexcept {
  if (freeze) *freeze = 0;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::Unfreeze(DWORD) noexcept { return E_NOTIMPL; }

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept {
  m_viewSink = com_ptr<IAdviseSink>(sink, true);
  m_viewSinkAspects = aspects;
  m_viewSinkFlags = flags;
  if (sink && (flags & ADVF_PRIMEFIRST)) sink->OnViewChange(DVASPECT_CONTENT, -1);
  return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept {
  if (aspects) *aspects = m_viewSinkAspects;
  if (flags) *flags = m_viewSinkFlags;
  if (sink) {
    *sink = m_viewSink.get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept {
  return GetExtent(aspect, size);
}

// Overridables

void COleControl::OnDraw(HDC, const RECT&) {}

void COleControl::OnDrawMetafile(HDC dc, const RECT& bounds) {
  // Not every picture records itself into a metafile (a bitmap picture rendered there through a
  // source DC with its own mapping plays back as nothing): draw into a bitmap of the bounds'
  // size, then record one plain stretch of that bitmap.
  const LONG width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  if (width <= 0 || height <= 0) return;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const unique_hdc memory(::CreateCompatibleDC(nullptr));
  if (!memory) return;
  const unique_hbitmap bitmap(
      ::CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return;
  const unique_select_object selected = fw::SelectObject(memory.get(), bitmap.get());
  OnDraw(memory.get(), RECT{0, 0, width, height});
  ::GdiFlush();
  // Recorded as a device-independent stretch of the bitmap's bits.
  ::StretchBlt(dc, bounds.left, bounds.top, width, height, memory.get(), 0, 0, width, height,
               SRCCOPY);
}

}  // namespace fw
