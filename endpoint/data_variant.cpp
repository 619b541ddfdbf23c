#include "endpoint/data_variant.h"

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
  // The same array VectorFromBstr makes, without a byte string in between. A vector's elements
  // follow its descriptor and nobody else holds it yet: they are written in place.
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, length);
  if (!array) throw std::bad_alloc();
  if (length) ::CopyMemory(array->pvData, data, length);
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_UI1;
  V_ARRAY(out) = array;
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

DataError Flatten(SAFEARRAY* array, std::vector<char>& bytes) {
  try {
    // A one-dimensional array of bytes is read in place, as BstrFromVector reads it; anything
    // else takes BstrFromVector's own verdict.
    if (array && array->cDims == 1 && array->cbElements == 1 &&
        (array->pvData || array->rgsabound[0].cElements == 0)) {
      const char* first = static_cast<const char*>(array->pvData);
      bytes.assign(first, first + array->rgsabound[0].cElements);
      return DataError::None;
    }
    fw::unique_bstr flat;
    if (const DataError error = Flatten(array, flat); error != DataError::None) return error;
    const char* first = reinterpret_cast<const char*>(flat.get());
    bytes.assign(first, first + ::SysStringByteLen(flat.get()));
    return DataError::None;
  } catch (const std::bad_alloc&) {
    return DataError::CannotFlatten;  // as when the byte string cannot be allocated
  }
}

// The bytes of a byte array handed in by value or by reference, or of the coercion's array.
template <typename Bytes>
DataError BytesOf(const VARIANT* value, Bytes& bytes) {
  // The common case, a byte array handed in by value or by reference, is flattened in place:
  // copying it first only to flatten the copy costs an allocation and a copy per datagram.
  if (SAFEARRAY* direct = ByteArrayOf(value)) return Flatten(direct, bytes);
  fw::unique_variant array;
  if (FAILED(::VariantChangeType(&array, const_cast<VARIANT*>(value), 0, VT_ARRAY | VT_UI1)) ||
      V_VT(&array) != (VT_ARRAY | VT_UI1))
    return DataError::NotConvertible;
  return Flatten(V_ARRAY(&array), bytes);
}
}  // namespace

DataError BytesFromVariant(const VARIANT* value, fw::unique_bstr& bytes) {
  bytes.reset();
  return BytesOf(value, bytes);
}

DataError BytesFromVariant(const VARIANT* value, std::vector<char>& bytes) {
  return BytesOf(value, bytes);
}

}  // namespace udp
