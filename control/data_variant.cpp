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
  fw::unique_bstr bytes(::SysAllocStringByteLen(static_cast<const char*>(data), length));
  if (!bytes) throw std::bad_alloc();
  VariantFromBytes(bytes.get(), out);
}

DataError BytesFromVariant(const VARIANT* value, fw::unique_bstr& bytes) {
  bytes.reset();
  fw::unique_variant array;
  if (FAILED(::VariantChangeType(&array, const_cast<VARIANT*>(value), 0, VT_ARRAY | VT_UI1)) ||
      V_VT(&array) != (VT_ARRAY | VT_UI1))
    return DataError::NotConvertible;
  BSTR flat = nullptr;
  if (FAILED(::BstrFromVector(V_ARRAY(&array), &flat)) || !flat) return DataError::CannotFlatten;
  bytes.reset(flat);
  return DataError::None;
}

}  // namespace udp
