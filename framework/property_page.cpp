#include "framework/property_page.h"

#include <new>

#include "framework/automation_error.h"
#include "framework/module.h"
#include "framework/registration.h"

namespace fw {

// CDataExchange

void CDataExchange::SetProperty(const wchar_t* name, const VARIANT& value) {
  Change c{name, {}};
  if (FAILED(::VariantCopy(&c.value, const_cast<VARIANT*>(&value)))) throw std::bad_alloc();
  m_changes.push_back(std::move(c));
}

HRESULT CDataExchange::PostProcessing(const std::vector<com_ptr<IDispatch>>& objects) {
  if (!m_saveAndValidate) return S_OK;
  for (auto& change : m_changes) {
    for (auto& object : objects) {
      LPOLESTR name = change.name.data();
      DISPID id = DISPID_UNKNOWN;
      HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
      if (FAILED(hr)) return hr;
      DISPID put = DISPID_PROPERTYPUT;
      DISPPARAMS params = {&change.value, &put, 1, 1};
      hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

// COlePropertyPage

COlePropertyPage::COlePropertyPage(UINT templateId, UINT captionId)
    : m_templateId(templateId), m_captionId(captionId) {}

COlePropertyPage::~COlePropertyPage() {
  m_window.reset();
  m_objects.clear();
  m_site.reset();
}

INT_PTR CALLBACK COlePropertyPage::PageProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* page = reinterpret_cast<COlePropertyPage*>(lParam);
    ComBarrier([&] { page->OnInitDialog(); });
    return TRUE;
  }
  return FALSE;
}

SIZE COlePropertyPage::TemplateSizePixels() const {
  // Dialog units depend on the template's font: measure a throw-away instance of the dialog.
  SIZE size = {0, 0};
  const unique_hwnd probe(
      ::CreateDialogParamW(ThisModule(), MAKEINTRESOURCEW(m_templateId), HWND_MESSAGE, nullptr, 0));
  if (probe) {
    RECT r = {};
    ::GetWindowRect(probe.get(), &r);
    size = {r.right - r.left, r.bottom - r.top};
  }
  return size;
}

STDMETHODIMP COlePropertyPage::SetPageSite(IPropertyPageSite* site) noexcept {
  if (site && m_site) return E_UNEXPECTED;
  m_site = com_ptr<IPropertyPageSite>(site, true);
  return S_OK;
}

STDMETHODIMP COlePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) noexcept {
  if (!rect) return E_POINTER;
  if (m_window) return E_UNEXPECTED;
  return ComBarrier([&] {
    HWND w = ::CreateDialogParamW(ThisModule(), MAKEINTRESOURCEW(m_templateId), parent, PageProc,
                                  reinterpret_cast<LPARAM>(this));
    if (!w) return E_OUTOFMEMORY;
    m_window.reset(w);
    ::MoveWindow(w, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                 FALSE);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Deactivate() noexcept {
  m_window.reset();
  return S_OK;
}

STDMETHODIMP COlePropertyPage::GetPageInfo(PROPPAGEINFO* info) noexcept {
  if (!info) return E_POINTER;
  return ComBarrier([&] {
    const std::wstring title = ModuleString(m_captionId, L"");
    const size_t bytes = (title.size() + 1) * sizeof(wchar_t);
    auto* text = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!text) return E_OUTOFMEMORY;
    ::CopyMemory(text, title.c_str(), bytes);
    info->cb = sizeof *info;
    info->pszTitle = text;
    info->size = TemplateSizePixels();
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::SetObjects(ULONG count, IUnknown** objects) noexcept {
  if (count && !objects) return E_POINTER;
  return ComBarrier([&] {
    std::vector<com_ptr<IDispatch>> found;
    for (ULONG i = 0; i < count; ++i) {
      if (!objects[i]) return E_POINTER;
      auto d = com_ptr<IUnknown>(objects[i], true).query<IDispatch>();
      if (!d) return E_NOINTERFACE;
      found.push_back(std::move(d));
    }
    m_objects = std::move(found);
    if (m_window) OnInitDialog();
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Show(UINT command) noexcept {
  if (!m_window) return E_UNEXPECTED;
  ::ShowWindow(m_window.get(), command);
  return S_OK;
}

STDMETHODIMP COlePropertyPage::Move(LPCRECT rect) noexcept {
  if (!rect) return E_POINTER;
  if (!m_window) return E_UNEXPECTED;
  ::MoveWindow(m_window.get(), rect->left, rect->top, rect->right - rect->left,
               rect->bottom - rect->top, TRUE);
  return S_OK;
}

STDMETHODIMP COlePropertyPage::IsPageDirty() noexcept { return m_dirty ? S_OK : S_FALSE; }

HRESULT COlePropertyPage::Exchange(bool save) {
  return ComBarrier([&] {
    CDataExchange dx(save);
    DoDataExchange(dx);
    return S_OK;
  });
}

STDMETHODIMP COlePropertyPage::Apply() noexcept {
  HRESULT hr = Exchange(true);
  if (SUCCEEDED(hr)) SetModifiedFlag(false);
  return hr;
}

STDMETHODIMP COlePropertyPage::Help(LPCOLESTR) noexcept { return E_NOTIMPL; }

STDMETHODIMP COlePropertyPage::TranslateAccelerator(MSG* msg) noexcept {
  if (!msg) return E_POINTER;
  if (m_window && ::IsDialogMessageW(m_window.get(), msg)) return S_OK;
  return S_FALSE;
}

void COlePropertyPage::SetModifiedFlag(bool modified) {
  const bool changed = m_dirty != modified;
  m_dirty = modified;
  if (changed && m_site)
    m_site->OnStatusChange(modified ? PROPPAGESTATUS_DIRTY : PROPPAGESTATUS_CLEAN);
}

void COlePropertyPage::DoDataExchange(CDataExchange& dx) {
  HRESULT hr = dx.PostProcessing(m_objects);
  if (FAILED(hr)) throw AutomationException{hr, L""};
}

void COlePropertyPage::OnInitDialog() { Exchange(false); }

}  // namespace fw
