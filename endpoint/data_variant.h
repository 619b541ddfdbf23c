// The data VARIANT: how the endpoint turns bytes into an automation value and back.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "framework/unique_any.h"

namespace udp {

enum class DataError { None, NotConvertible, CannotFlatten };

// A one-dimensional VT_ARRAY|VT_UI1 of the string's bytes, lower bound 0. Throws std::bad_alloc.
void VariantFromBytes(BSTR bytes, VARIANT* out);
// The same from raw bytes.
void VariantFromBytes(const void* data, UINT length, VARIANT* out);
// The bytes of a byte array (any bounds), a string's stored bytes, or a reference to either.
DataError BytesFromVariant(const VARIANT* value, fw::unique_bstr& bytes);
// The same into a buffer the caller reuses; on failure the buffer's content is unspecified.
DataError BytesFromVariant(const VARIANT* value, std::vector<char>& bytes);

// The one datagram SendTo keeps until its write notification sends it. The buffer stays with the
// endpoint between datagrams, so that a host sending datagram after datagram does not allocate
// and free one for each.
class PendingDatagram {
 public:
  // Takes the bytes of a data value; on failure nothing is pending.
  DataError Take(const VARIANT* data) {
    const DataError error = BytesFromVariant(data, m_bytes);
    m_pending = error == DataError::None;
    return error;
  }
  explicit operator bool() const { return m_pending; }
  const char* data() const { return m_bytes.data(); }
  size_t size() const { return m_bytes.size(); }
  // Nothing pending; the buffer is kept for the next datagram unless it is larger than any
  // datagram can be (what a failed send of an oversized value left).
  void reset() {
    m_pending = false;
    if (m_bytes.capacity() > kLargestKept) Release();
  }
  // Nothing pending and the buffer freed (the endpoint closes).
  void Release() {
    m_pending = false;
    std::vector<char>().swap(m_bytes);
  }

 private:
  static constexpr size_t kLargestKept = 65536;
  std::vector<char> m_bytes;
  bool m_pending = false;
};

}  // namespace udp
