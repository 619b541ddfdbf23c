// An enumerator over a control's own verbs.
#pragma once
#include <windows.h>
#include <oleidl.h>

#include <span>

namespace fw {

struct VerbEntry {
  LONG verb;
  const wchar_t* name;
  DWORD flags;       // menu flags
  DWORD attributes;  // OLEVERBATTRIB_*
};

// Hands out a new enumerator over verbs (which must outlive it: a static table).
HRESULT CreateVerbEnum(std::span<const VerbEntry> verbs, IEnumOLEVERB** out);

}  // namespace fw
