// Corrupted forms: a saved form is damaged (truncated, bits flipped, lengths and counts made huge,
// types unknown, the version newer) and loaded through IPersistStreamInit or IPersistStorage, or
// read from a property bag that answers each name at random. Whatever loads is then used.
#include <cstring>
#include <memory>

#include "fuzz/fuzz.h"
#include "support/host.h"
#include "support/property_bag.h"

namespace fuzz {

namespace {

struct Persisted {
  const wchar_t* name;
  VARTYPE type;
};
constexpr Persisted kPersisted[] = {
    {L"_Version", VT_UI4},   {L"_ExtentX", VT_I4},    {L"_ExtentY", VT_I4},
    {L"Broadcast", VT_BOOL}, {L"LastError", VT_I4},   {L"InetIp", VT_I4},
    {L"InetName", VT_BSTR},  {L"InetAddress", VT_BSTR}, {L"UserFlag", VT_BSTR},
    {L"UserData1", VT_BSTR}, {L"UserData2", VT_BSTR}, {L"UserData3", VT_BSTR},
    {L"UserData4", VT_BSTR}, {L"UserData5", VT_BSTR}, {L"RCVBUF", VT_I4},
    {L"SNDBUF", VT_I4}};

// A value for a form: mostly of the property's own type, at its edges; sometimes anything.
host::Var FormValue(Rng& rng, VARTYPE type) {
  Arena arena;
  ValueContext c{rng, arena, {}, false};
  VARIANT raw;
  if (type == VT_UI4 && rng.Percent(70)) {
    const ULONG versions[] = {0x00010000, 0x00010000, 0x00000001, 0, 0x00010001, 0x00020000,
                              0xFFFFFFFF};
    ::VariantInit(&raw);
    V_VT(&raw) = VT_UI4;
    V_UI4(&raw) = rng.Pick(versions);
  } else if (type == VT_BSTR && rng.Percent(70)) {
    ::VariantInit(&raw);
    V_VT(&raw) = VT_BSTR;
    V_BSTR(&raw) = RandomText(rng, !rng.OneIn(8));
  } else {
    RandomValue(c, &raw);
  }
  // The bag keeps plain values: references are followed now, while their targets live.
  host::Var value;
  ::VariantCopyInd(value.get(), &raw);
  ::VariantClear(&raw);
  return value;
}

host::PropertyBag RandomForm(Rng& rng) {
  host::PropertyBag bag;
  for (const auto& p : kPersisted) bag.Set(p.name, FormValue(rng, p.type));
  return bag;
}

// A bag holding a form's values that answers each read its own way.
class HostileBag : public host::PropertyBag {
 public:
  HostileBag(Rng& rng, const host::PropertyBag& form, bool withArgumentFaults)
      : rng_(rng), argumentFaults_(withArgumentFaults) {
    values = form.values;
  }
  STDMETHODIMP Write(LPCOLESTR, VARIANT*) override { return E_FAIL; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    enum { Answer, WrongType, Missing, Failing, ClearFirst, NoWrite, WriteThenFail };
    int mode = static_cast<int>(rng_.Below(10));
    mode = mode < 4 ? Answer : mode - 3;
    // Answers that free or keep the VARIANT as it came in test how the control initialised it
    // (every read gets a wholly zero VARIANT); they run only when asked for (--argument-faults),
    // so that the default batches stay those recorded without them.
    const bool argumentFault =
        mode == Missing || mode == Failing || mode == ClearFirst || mode == NoWrite;
    if (argumentFault && !argumentFaults_ && V_VT(value) == VT_BSTR) mode = WrongType;
    const VARTYPE wanted = V_VT(value);
    const host::Var* stored = Find(name);
    switch (mode) {
      case Missing:
        return E_INVALIDARG;
      case Failing:
        return E_FAIL;
      case NoWrite:
        return S_OK;
      case ClearFirst:
        ::VariantClear(value);
        break;
      default:
        ::VariantInit(value);
    }
    if (mode == WrongType || !stored) {
      host::Var any = FormValue(rng_, VT_EMPTY);
      ::VariantCopy(value, any.get());
      return S_OK;
    }
    HRESULT hr = wanted == VT_EMPTY
                     ? ::VariantCopy(value, const_cast<VARIANT*>(stored->get()))
                     : ::VariantChangeType(value, const_cast<VARIANT*>(stored->get()), 0, wanted);
    return mode == WriteThenFail ? E_FAIL : hr;
  }

 private:
  Rng& rng_;
  bool argumentFaults_;
};

// A stream over bytes that may fail, read short, or misreport what it read.
class HostileStream : public IStream {
 public:
  enum Mode { Plain, FailAfter, Short, Overstate, FalseAtEnd };
  HostileStream(std::vector<BYTE> bytes, Mode mode, size_t failAt)
      : bytes_(std::move(bytes)), mode_(mode), failAt_(failAt) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) ||
        IsEqualIID(iid, IID_ISequentialStream)) {
      *out = static_cast<IStream*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(void* data, ULONG size, ULONG* read) override {
    if (mode_ == FailAfter && position_ >= failAt_) return STG_E_READFAULT;
    ULONG n = static_cast<ULONG>(std::min<size_t>(size, bytes_.size() - position_));
    if (mode_ == Short && n > 1) n = 1 + n / 3;
    if (n) std::memcpy(data, bytes_.data() + position_, n);
    position_ += n;
    if (read) *read = mode_ == Overstate ? n + 7 : n;
    return mode_ == FalseAtEnd && n < size ? S_FALSE : S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  std::vector<BYTE> bytes_;
  Mode mode_;
  size_t failAt_;
  size_t position_ = 0;
};

template <typename I>
fw::com_ptr<I> Query(host::Host& h, REFIID iid) {
  fw::com_ptr<I> p;
  h.unknown()->QueryInterface(iid, p.put_void());
  return p;
}

std::vector<BYTE> SavedBytes(host::Host& h) {
  fw::com_ptr<IStream> stream;
  ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  Query<IPersistStreamInit>(h, IID_IPersistStreamInit)->Save(stream.get(), FALSE);
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

// Where a property's entry starts (its name), or npos.
size_t FindEntry(const std::vector<BYTE>& bytes, const wchar_t* name) {
  const size_t length = std::wcslen(name) * sizeof(wchar_t);
  for (size_t i = 4; i + length <= bytes.size(); ++i)
    if (std::memcmp(bytes.data() + i, name, length) == 0) return i;
  return std::string::npos;
}

void PutDword(std::vector<BYTE>& bytes, size_t at, DWORD value) {
  if (at + 4 <= bytes.size()) std::memcpy(bytes.data() + at, &value, 4);
}

void Mutate(Rng& rng, std::vector<BYTE>& bytes) {
  const DWORD huge[] = {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0x01000001, 0x00FFFFFF, 0x00010000};
  const int count = rng.OneIn(10) ? 0 : 1 + static_cast<int>(rng.Below(3));
  for (int m = 0; m < count && !bytes.empty(); ++m) {
    const size_t at = rng.Below(bytes.size());
    const auto& p = rng.Pick(kPersisted);
    const size_t entry = FindEntry(bytes, p.name);
    const size_t afterName = entry == std::string::npos ? at : entry + std::wcslen(p.name) * 2;
    switch (rng.Below(9)) {
      case 0:
        bytes.resize(rng.Below(bytes.size() + 1));  // truncated
        break;
      case 1:
        for (int b = 1 + static_cast<int>(rng.Below(8)); b > 0; --b)
          bytes[rng.Below(bytes.size())] ^= static_cast<BYTE>(1u << rng.Below(8));
        break;
      case 2:
        PutDword(bytes, at, rng.Pick(huge));  // a length, a count or a value made huge
        break;
      case 3:
        PutDword(bytes, 4, rng.Pick(huge));  // the property count
        break;
      case 4:
        if (entry != std::string::npos) PutDword(bytes, entry - 4, rng.Pick(huge));  // name length
        break;
      case 5: {  // an unknown or different type
        const WORD types[] = {0xFFFF, VT_R8, VT_DISPATCH, VT_ARRAY | VT_UI1, VT_BSTR, VT_I2,
                              VT_EMPTY, VT_UI4};
        const WORD type = rng.Pick(types);
        if (afterName + 2 <= bytes.size()) std::memcpy(bytes.data() + afterName, &type, 2);
        break;
      }
      case 6: {  // another version, mostly a newer one
        const size_t version = FindEntry(bytes, L"_Version");
        const DWORD versions[] = {0x00020000, 0x00010001, 0xFFFFFFFF, 0x00000001, 0};
        if (version != std::string::npos) PutDword(bytes, version + 16 + 2, rng.Pick(versions));
        break;
      }
      case 7: {  // a slice repeated elsewhere: entries twice, or cut in the middle
        const size_t from = rng.Below(bytes.size()), length = rng.Below(bytes.size() - from + 1);
        std::vector<BYTE> slice(bytes.begin() + static_cast<ptrdiff_t>(from),
                                bytes.begin() + static_cast<ptrdiff_t>(from + length));
        bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(rng.Below(bytes.size() + 1)),
                     slice.begin(), slice.end());
        break;
      }
      default:
        for (int g = static_cast<int>(rng.Below(64)); g > 0; --g)
          bytes.push_back(static_cast<BYTE>(rng.Bits()));
    }
  }
}

HRESULT LoadFromStorage(Rng& rng, host::Host& h, const std::vector<BYTE>& bytes) {
  fw::com_ptr<ILockBytes> lockBytes;
  fw::com_ptr<IStorage> storage;
  if (FAILED(::CreateILockBytesOnHGlobal(nullptr, TRUE, lockBytes.put())) ||
      FAILED(::StgCreateDocfileOnILockBytes(
          lockBytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
          storage.put())))
    return E_FAIL;
  const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  switch (rng.Below(10)) {
    case 0:
      break;  // no Contents at all
    case 1: {
      fw::com_ptr<IStorage> inner;  // Contents, but a storage
      storage->CreateStorage(L"Contents", mode, 0, 0, inner.put());
      break;
    }
    default: {
      fw::com_ptr<IStream> contents;
      if (SUCCEEDED(storage->CreateStream(L"Contents", mode, 0, 0, contents.put())) &&
          !bytes.empty())
        contents->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    }
  }
  return Query<IPersistStorage>(h, IID_IPersistStorage)->Load(storage.get());
}

// What a container does with a form it has loaded, or failed to load.
void UseLoaded(Rng& rng, host::Host& h, bool loaded) {
  if (!loaded && rng.OneIn(2)) Query<IPersistStreamInit>(h, IID_IPersistStreamInit)->InitNew();
  for (DISPID id : {1, 2, 7, 8, 9, 10, 11, 12, 13, 14, 21, 22, 26, 27, 28, 29, 30, 41})
    h.InvokeId(id, DISPATCH_PROPERTYGET, {});
  host::PropertyBag saved;
  Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Save(&saved, TRUE, TRUE);
  SavedBytes(h);
  ULARGE_INTEGER size;
  Query<IPersistStreamInit>(h, IID_IPersistStreamInit)->GetSizeMax(&size);
  host::PropertyBag again = RandomForm(rng);
  Query<IPersistPropertyBag>(h, IID_IPersistPropertyBag)->Load(&again, nullptr);
}

}  // namespace

void RunForms(Rng& rng, int count, Stats& stats, bool withArgumentFaults) {
  g_step.phase = "forms";
  for (int i = 0; i < count; ++i) {
    g_step.index = i;
    host::PropertyBag form = RandomForm(rng);
    const int kind = static_cast<int>(rng.Below(3));
    host::Host target(host::Host::Init::None);
    HRESULT hr;
    if (kind == 2) {
      HostileBag bag(rng, form, withArgumentFaults);
      hr = Query<IPersistPropertyBag>(target, IID_IPersistPropertyBag)->Load(&bag, nullptr);
    } else {
      std::vector<BYTE> bytes;
      {
        host::Host source(host::Host::Init::None);
        Query<IPersistPropertyBag>(source, IID_IPersistPropertyBag)->Load(&form, nullptr);
        bytes = SavedBytes(source);
      }
      Mutate(rng, bytes);
      if (kind == 1) {
        hr = LoadFromStorage(rng, target, bytes);
      } else {
        const auto mode = static_cast<HostileStream::Mode>(rng.OneIn(2) ? 0 : rng.Below(5));
        HostileStream stream(std::move(bytes), mode, rng.Below(200));
        hr = Query<IPersistStreamInit>(target, IID_IPersistStreamInit)->Load(&stream);
      }
    }
    ++stats.forms;
    if (SUCCEEDED(hr)) ++stats.formsLoaded;
    stats.formResults.insert({kind, hr});
    UseLoaded(rng, target, SUCCEEDED(hr));
    Pump(0);
  }
}

}  // namespace fuzz
