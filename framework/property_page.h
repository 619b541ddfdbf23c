// Property pages: IPropertyPage over a child dialog template of the module.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "framework/implements.h"
#include "framework/unique_any.h"

namespace fw {

// One exchange between a page's fields and the objects it edits. Fields record the properties
// they change; the closing step writes them to every object.
class CDataExchange {
 public:
  explicit CDataExchange(bool saveAndValidate) : m_saveAndValidate(saveAndValidate) {}
  bool SaveAndValidate() const { return m_saveAndValidate; }
  void SetProperty(const wchar_t* name, const VARIANT& value);
  // The framework's closing step: puts every recorded property on every object.
  HRESULT PostProcessing(const std::vector<com_ptr<IDispatch>>& objects);

 private:
  struct Change {
    std::wstring name;
    unique_variant value;
  };
  bool m_saveAndValidate;
  std::vector<Change> m_changes;
};

class COlePropertyPage : public implements<COlePropertyPage, IPropertyPage> {
 public:
  // IPropertyPage
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) noexcept override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) noexcept override;
  STDMETHODIMP Deactivate() noexcept override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) noexcept override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) noexcept override;
  STDMETHODIMP Show(UINT command) noexcept override;
  STDMETHODIMP Move(LPCRECT rect) noexcept override;
  STDMETHODIMP IsPageDirty() noexcept override;
  STDMETHODIMP Apply() noexcept override;
  STDMETHODIMP Help(LPCOLESTR helpDir) noexcept override;
  STDMETHODIMP TranslateAccelerator(MSG* msg) noexcept override;

  HWND GetSafeHwnd() const { return m_window.get(); }
  void SetModifiedFlag(bool modified = true);

 protected:
  COlePropertyPage(UINT templateId, UINT captionId);
  ~COlePropertyPage() override;
  // Moves values between the page's fields and the objects; the base runs the closing step only.
  virtual void DoDataExchange(CDataExchange& dx);
  // Called after the dialog has been created; fields load their values here.
  virtual void OnInitDialog();

 private:
  static INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  SIZE TemplateSizePixels() const;
  HRESULT Exchange(bool save);

  UINT m_templateId;
  UINT m_captionId;
  bool m_dirty = false;
  com_ptr<IPropertyPageSite> m_site;
  std::vector<com_ptr<IDispatch>> m_objects;
  unique_hwnd m_window;
};

}  // namespace fw
