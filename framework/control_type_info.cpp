// The control's type information (IDispatch's, IProvideClassInfo2), from the library named by
// the class description.
#include "framework/ole_control.h"
#include "framework/type_library.h"

namespace fw {

STDMETHODIMP COleControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return LoadTypeInfo(*m_info.typeLibId, m_info.typeLibVersion, lcid, *m_info.dispatchIid, out);
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // A caller that names a locale gets the type library's own look-up.
  if (lcid != 0) {
    com_ptr<ITypeInfo> info;
    if (SUCCEEDED(GetTypeInfo(0, lcid, info.put()))) return info->GetIDsOfNames(names, count, ids);
  }
  return m_dispatcher.GetIDsOfNames(names, count, ids);
}

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** info) {
  return LoadTypeInfo(*m_info.typeLibId, m_info.typeLibVersion, ::GetUserDefaultLCID(), *m_info.clsid,
                      info);
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = *m_info.eventsIid;
  return S_OK;
}

}  // namespace fw
