#include "framework/verb_enum.h"

#include <new>

#include "framework/module.h"

namespace fw {

namespace {

class VerbEnum final : public IEnumOLEVERB {
 public:
  // The verbs live in the module: an enumerator keeps it loaded.
  VerbEnum(std::span<const VerbEntry> verbs, size_t position) : verbs_(verbs), next_(position) {
    ModuleAddRef();
  }
  ~VerbEnum() { ModuleRelease(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumOLEVERB)) {
      *out = static_cast<IEnumOLEVERB*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = ::InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  STDMETHODIMP Next(ULONG count, OLEVERB* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && next_ < verbs_.size(); ++n, ++next_) {
      const VerbEntry& v = verbs_[next_];
      const size_t bytes = (::lstrlenW(v.name) + 1) * sizeof(wchar_t);
      auto* name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
      if (!name) {
        for (ULONG i = 0; i < n; ++i) ::CoTaskMemFree(out[i].lpszVerbName);
        next_ -= n;
        if (fetched) *fetched = 0;
        return E_OUTOFMEMORY;
      }
      ::CopyMemory(name, v.name, bytes);
      out[n] = {v.verb, name, v.flags, v.attributes};
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = verbs_.size() - next_;
    if (count > left) {
      next_ = verbs_.size();
      return S_FALSE;
    }
    next_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumOLEVERB** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) VerbEnum(verbs_, next_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  LONG refs_ = 1;
  std::span<const VerbEntry> verbs_;
  size_t next_;
};

}  // namespace

HRESULT CreateVerbEnum(std::span<const VerbEntry> verbs, IEnumOLEVERB** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) VerbEnum(verbs, 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace fw
