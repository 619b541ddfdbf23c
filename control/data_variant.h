// The data VARIANT: how the control turns bytes into an automation value and back.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "framework/unique_any.h"

namespace udp {

enum class DataError { None, NotConvertible, CannotFlatten };

// A one-dimensional VT_ARRAY|VT_UI1 of the string's bytes, lower bound 0. Throws std::bad_alloc.
void VariantFromBytes(BSTR bytes, VARIANT* out);
// The same from raw bytes.
void VariantFromBytes(const void* data, UINT length, VARIANT* out);
// The bytes of a byte array (any bounds), a string's stored bytes, or a reference to either.
DataError BytesFromVariant(const VARIANT* value, fw::unique_bstr& bytes);

}  // namespace udp
