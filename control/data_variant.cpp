#include "control/data_variant.h"

#include <new>

namespace udp {

void VariantFromBytes(BSTR bytes, VARIANT* out) {
  SAFEARRAY* array = nullptr;
  if (FAILED(::VectorFromBstr(bytes, &array)) || !array) throw std::bad_alloc();
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_UI1;
  V_ARRAY(out) = array;
}

void VariantFromBytes(const void* data, UINT length, VARIANT* out) {
  // The same array VectorFromBstr makes, without a byte string in between.
  fw::unique_safearray array(::SafeArrayCreateVector(VT_UI1, 0, length));
  if (!array) throw std::bad_alloc();
  if (length) {
    void* elements = nullptr;
    if (FAILED(::SafeArrayAccessData(array.get(), &elements))) throw std::bad_alloc();
    ::CopyMemory(elements, data, length);
    ::SafeArrayUnaccessData(array.get());
  }
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_UI1;
  V_ARRAY(out) = array.release();
}

namespace {
// The byte array a value already is, or a reference leads to; null for anything that needs the
// coercion. Flattening such an array directly gives the bytes the coercion's copy would give.
SAFEARRAY* ByteArrayOf(const VARIANT* value) {
  if (V_VT(value) == (VT_ARRAY | VT_UI1)) return V_ARRAY(value);
  if (V_VT(value) == (VT_BYREF | VT_ARRAY | VT_UI1) && V_ARRAYREF(value)) return *V_ARRAYREF(value);
  return nullptr;
}

DataError Flatten(SAFEARRAY* array, fw::unique_bstr& bytes) {
  BSTR flat = nullptr;
  if (FAILED(::BstrFromVector(array, &flat)) || !flat) return DataError::CannotFlatten;
  bytes.reset(flat);
  return DataError::None;
}
}  // namespace

DataError BytesFromVariant(const VARIANT* value, fw::unique_bstr& bytes) {
  bytes.reset();
  // The common case, a byte array handed in by value or by reference, is flattened in place:
  // copying it first only to flatten the copy costs an allocation and a copy per datagram.
  if (SAFEARRAY* direct = ByteArrayOf(value)) return Flatten(direct, bytes);
  fw::unique_variant array;
  if (FAILED(::VariantChangeType(&array, const_cast<VARIANT*>(value), 0, VT_ARRAY | VT_UI1)) ||
      V_VT(&array) != (VT_ARRAY | VT_UI1))
    return DataError::NotConvertible;
  return Flatten(V_ARRAY(&array), bytes);
}

}  // namespace udp
