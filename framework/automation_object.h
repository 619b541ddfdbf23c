// What every automation object of the module answers the same way, written once: IDispatch over
// the object's own members, the connection point of its events, and its class information
// (IProvideClassInfo2), all described by the type library. The control and the objects without
// a form (UdpSocket) derive from it, as C++/WinRT's classes derive from implements<>.
//
// The derived class D (CRTP) supplies its members:
//   DISPID MemberId(const wchar_t* name) const;    // DISPID_UNKNOWN when it has none of that name
//   HRESULT InvokeMember(DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
//                        EXCEPINFO* excepInfo, UINT* argErr);   // never throws
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "framework/automation_error.h"
#include "framework/connection_point.h"
#include "framework/dispatcher.h"
#include "framework/enumerator.h"
#include "framework/implements.h"
#include "framework/type_library.h"
#include "framework/unique_any.h"

namespace fw {

// The type library's names for an automation object.
struct AutomationClass {
  const CLSID* clsid;
  const GUID* typeLibId;
  TypeLibVersion typeLibVersion;
  const IID* dispatchIid;  // also answered by QueryInterface, as IDispatch
  const IID* eventsIid;    // the one outgoing interface
};

template <typename D, typename Dispatch, typename... Others>
class automation_object
    : public implements<D, Dispatch, IConnectionPointContainer, IProvideClassInfo2, Others...> {
 public:
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    // Loading the library may allocate (the module's path when it is not registered): nothing it
    // throws may leave a noexcept method, which would end the host's process.
    return ComBarrier([&] {
      return LoadTypeInfo(*m_class.typeLibId, m_class.typeLibVersion, lcid, *m_class.dispatchIid,
                          out);
    });
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) noexcept override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return ComBarrier([&]() -> HRESULT {
      // A caller that names a locale gets the type library's own look-up.
      if (lcid != 0) {
        com_ptr<ITypeInfo> info;
        if (SUCCEEDED(GetTypeInfo(0, lcid, info.put())))
          return info->GetIDsOfNames(names, count, ids);
      }
      return DispatchCore::IdsOfNames(
          names, count, ids, [this](const wchar_t* name) { return Derived().MemberId(name); });
    });
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) noexcept override {
    // The call may drop the host's last reference (a handler that lets the object go).
    com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
    return Derived().InvokeMember(id, iid, flags, params, result, excepInfo, argErr);
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override {
    IConnectionPoint* const points[] = {&m_events};
    return CreateEnumerator<IEnumConnectionPoints>(points, out);
  }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, m_events.iid())) return CONNECT_E_NOCONNECTION;
    *out = &m_events;
    m_events.AddRef();
    return S_OK;
  }

  // IProvideClassInfo, IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) noexcept override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return ComBarrier([&] {
      return LoadTypeInfo(*m_class.typeLibId, m_class.typeLibVersion, ::GetUserDefaultLCID(),
                          *m_class.clsid, info);
    });
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) noexcept override {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = *m_class.eventsIid;
    return S_OK;
  }

  const AutomationClass& Automation() const { return m_class; }

 protected:
  explicit automation_object(const AutomationClass& automation)
      : m_class(automation), m_events(static_cast<IDispatch*>(this), this, *automation.eventsIid) {}
  ~automation_object() override { m_events.DisconnectAll(); }

  // The dispatch interface named by the class is answered as IDispatch.
  void* QueryOther(REFIID iid) override {
    return IsEqualIID(iid, *m_class.dispatchIid) ? static_cast<IDispatch*>(this) : nullptr;
  }

 private:
  D& Derived() { return static_cast<D&>(*this); }

  AutomationClass m_class;

 protected:
  // The sinks of the events; declared after the class facts it is made from.
  EventConnectionPoint m_events;
};

}  // namespace fw
