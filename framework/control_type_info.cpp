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
  return LoadTypeInfo(*info_.typeLibId, info_.typeLibVersion, lcid, *info_.dispatchIid, out);
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // A caller that names a locale gets the type library's own look-up.
  if (lcid != 0) {
    com_ptr<ITypeInfo> info;
    if (SUCCEEDED(GetTypeInfo(0, lcid, info.put()))) return info->GetIDsOfNames(names, count, ids);
  }
  return dispatcher_.GetIDsOfNames(names, count, ids);
}

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** info) {
  return LoadTypeInfo(*info_.typeLibId, info_.typeLibVersion, ::GetUserDefaultLCID(), *info_.clsid,
                      info);
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = *info_.eventsIid;
  return S_OK;
}

}  // namespace fw
