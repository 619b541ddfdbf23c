// IDispatch as an interpreter of an object's entry table. The checks, the argument conversion,
// the results and the exception information are the same for every owner (DispatchCore); the
// typed part only finds the entry and runs its thunks on the object called.
#pragma once
#include <array>
#include <climits>
#include <span>

#include "framework/dispatch_table.h"

namespace fw {

class DispatchCore {
 public:
  // GetIDsOfNames' answer: the first name is the member's, looked up by `findId` (DISPID_UNKNOWN
  // when unknown); the tables have no argument names, so every further name is unknown.
  template <typename FindId>
  static HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids, FindId&& findId) {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;
    ids[0] = findId(names[0]);
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }

 protected:
  // What the core needs to know of the entry called.
  struct Shape {
    DispBinding binding;
    VARTYPE type;
    bool canPut;  // a property with a put thunk; read-only ones have none
    std::span<const DispParam> params;
  };
  // The thunks of that entry, bound to the object called.
  class Target {
   public:
    virtual void Get(VARIANT* result) const = 0;
    virtual void Put(const DispArgs& value) const = 0;
    virtual void Call(const DispArgs& args, VARIANT* result) const = 0;

   protected:
    ~Target() = default;
  };

  // `entry` is null when the table has no member `id`; `source` names the object in the
  // exception information of a failed call.
  static HRESULT Invoke(const Shape* entry, const Target& target, bool initialised, REFIID iid,
                        WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                        UINT* argErr, const wchar_t* source);
  static bool NameMatches(const wchar_t* entryName, const wchar_t* name);

  // Every call starts by finding its entry: the usual small DISPIDs find it in one step (its
  // position + 1, 0 for none) instead of a walk through the table.
  static constexpr DISPID kIndexedIds = 64;

 private:
  static HRESULT InvokeEntry(const Shape& entry, const Target& target, WORD flags,
                             const DISPPARAMS& params, VARIANT* result, UINT* argErr);
  static HRESULT ConvertArgs(std::span<const DispParam> declared, const DISPPARAMS& params,
                             DispArgs& args, UINT* argErr);
  static HRESULT ConvertMemberValue(VARTYPE type, VARIANT* value, DispArgs& args, UINT* argErr);
  static HRESULT StoreResult(VARTYPE declared, VARIANT& produced, VARIANT* result);
};

template <typename Owner>
class Dispatcher : DispatchCore {
 public:
  using Entry = DispEntry<Owner>;

  explicit Dispatcher(std::span<const Entry> entries) : m_entries(entries) {
    if (m_entries.size() >= UCHAR_MAX) return;  // positions would not fit: Find walks the table
    for (size_t i = 0; i < m_entries.size(); ++i) {
      const DISPID id = m_entries[i].dispid;
      // The first entry of an identifier is the one a walk would find.
      if (id >= 0 && id < kIndexedIds && m_positionById[static_cast<size_t>(id)] == 0)
        m_positionById[static_cast<size_t>(id)] = static_cast<unsigned char>(i + 1);
    }
  }

  std::span<const Entry> Entries() const { return m_entries; }

  const Entry* Find(DISPID id) const {
    if (id >= 0 && id < kIndexedIds && m_entries.size() < UCHAR_MAX) {
      const unsigned position = m_positionById[static_cast<size_t>(id)];
      return position ? &m_entries[position - 1] : nullptr;
    }
    for (const auto& e : m_entries)
      if (e.dispid == id) return &e;
    return nullptr;
  }
  // Matches without regard to case.
  const Entry* Find(const wchar_t* name) const {
    if (!name) return nullptr;
    for (const auto& e : m_entries)
      if (NameMatches(e.name, name)) return &e;
    return nullptr;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const {
    return IdsOfNames(names, count, ids, [this](const wchar_t* name) {
      const Entry* e = Find(name);
      return e ? e->dispid : DISPID_UNKNOWN;
    });
  }

  HRESULT Invoke(Owner& self, bool initialised, DISPID id, REFIID iid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                 const wchar_t* source = nullptr) const {
    const Entry* entry = Find(id);
    const Bound target(self, entry);
    Shape shape{};
    if (entry)
      shape = {entry->binding, entry->type, entry->put != nullptr, entry->Params()};
    return DispatchCore::Invoke(entry ? &shape : nullptr, target, initialised, iid, flags, params,
                                result, excepInfo, argErr, source);
  }

 private:
  class Bound final : public Target {
   public:
    Bound(Owner& self, const Entry* entry) : m_self(self), m_entry(entry) {}
    void Get(VARIANT* result) const override { m_entry->get(m_self, result); }
    void Put(const DispArgs& value) const override { m_entry->put(m_self, value); }
    void Call(const DispArgs& args, VARIANT* result) const override {
      m_entry->call(m_self, args, result);
    }

   private:
    Owner& m_self;
    const Entry* m_entry;
  };

  std::span<const Entry> m_entries;
  std::array<unsigned char, kIndexedIds> m_positionById{};
};

// The status of a put on a property that cannot be set (CTL_E_SETNOTSUPPORTED).
inline constexpr SCODE kSetNotSupported = static_cast<SCODE>(0x800A017F);

}  // namespace fw
