// IEnumXxx written once: the enumerators a container walks (connection points, connections,
// verbs), each over a snapshot taken when it is made.
//
// Implementation details: an enumerator owns a copy of the items and a cursor. What it does with
// an item is the item's traits: Hold when the snapshot takes it and Drop when it goes (a COM
// reference is held for the enumerator's life), HandOut a copy to the caller of Next (with a
// reference, or a name the caller frees) and TakeBack a copy handed out when a later one of the
// same Next fails. A clone copies the items and the cursor. Every enumerator holds the module,
// since a caller may keep one past the object that made it.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include <span>
#include <vector>

#include "framework/automation_error.h"
#include "framework/implements.h"

namespace fw {

template <typename Enum>
struct EnumTraits;

template <>
struct EnumTraits<IEnumConnectionPoints> {
  using Item = IConnectionPoint*;
  static void Hold(Item i) { i->AddRef(); }
  static void Drop(Item i) { i->Release(); }
  static bool HandOut(Item from, Item& to) {
    to = from;
    to->AddRef();
    return true;
  }
  static void TakeBack(Item& i) { i->Release(); }
};

template <>
struct EnumTraits<IEnumConnections> {
  using Item = CONNECTDATA;
  static void Hold(const Item& i) { i.pUnk->AddRef(); }
  static void Drop(const Item& i) { i.pUnk->Release(); }
  static bool HandOut(const Item& from, Item& to) {
    to = from;
    to.pUnk->AddRef();
    return true;
  }
  static void TakeBack(Item& i) { i.pUnk->Release(); }
};

// The verbs' names live in static tables; the caller frees the copy it receives.
template <>
struct EnumTraits<IEnumOLEVERB> {
  using Item = OLEVERB;
  static void Hold(const Item&) {}
  static void Drop(const Item&) {}
  static bool HandOut(const Item& from, Item& to) {
    const size_t bytes = (::lstrlenW(from.lpszVerbName) + 1) * sizeof(wchar_t);
    auto* name = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!name) return false;
    ::CopyMemory(name, from.lpszVerbName, bytes);
    to = from;
    to.lpszVerbName = name;
    return true;
  }
  static void TakeBack(Item& i) { ::CoTaskMemFree(i.lpszVerbName); }
};

template <typename Enum>
class Enumerator final : public implements<Enumerator<Enum>, Enum> {
  using Traits = EnumTraits<Enum>;
  using Item = typename Traits::Item;

 public:
  explicit Enumerator(std::span<const Item> items, size_t position = 0)
      : m_items(items.begin(), items.end()), m_next(position) {
    for (const auto& i : m_items) Traits::Hold(i);
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) noexcept override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && m_next < m_items.size(); ++n, ++m_next) {
      if (Traits::HandOut(m_items[m_next], out[n])) continue;
      for (ULONG i = 0; i < n; ++i) Traits::TakeBack(out[i]);
      m_next -= n;
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) noexcept override {
    if (count > m_items.size() - m_next) {
      m_next = m_items.size();
      return S_FALSE;
    }
    m_next += count;
    return S_OK;
  }
  STDMETHODIMP Reset() noexcept override {
    m_next = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBarrier([&] {
      *out = new Enumerator(m_items, m_next);
      return S_OK;
    });
  }

 private:
  ~Enumerator() override {
    for (const auto& i : m_items) Traits::Drop(i);
  }

  std::vector<Item> m_items;
  size_t m_next;
};

// Hands out a new enumerator over a snapshot of items.
template <typename Enum>
HRESULT CreateEnumerator(std::span<const typename EnumTraits<Enum>::Item> items, Enum** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComBarrier([&] {
    *out = new Enumerator<Enum>(items);
    return S_OK;
  });
}

}  // namespace fw
