// Numbers to and from their network-order byte arrays. These methods touch no socket and no
// member, so they work on a closed endpoint and never change State or LastError.
#include <cmath>
#include <cstdint>
#include <new>

#include "endpoint/data_variant.h"
#include "endpoint/errors.h"
#include "endpoint/endpoint.h"

namespace udp {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// Truncation toward zero into 64 bits. Whatever has no 64-bit integer value (NaN, the
// infinities, magnitudes of 2^63 and more) becomes the smallest 64-bit integer, whose low 32 bits
// are zero; a plain cast would be undefined there.
std::int64_t TruncateToInt64(double value) {
  if (!std::isfinite(value)) return INT64_MIN;
  const double whole = std::trunc(value);
  if (whole < -kTwoTo63 || whole >= kTwoTo63) return INT64_MIN;
  return static_cast<std::int64_t>(whole);
}

void NetworkBytesVariant(const unsigned char* bytes, UINT length, VARIANT* result) {
  try {
    VariantFromBytes(bytes, length, result);
  } catch (const std::bad_alloc&) {
    ThrowUdpError(kErrOutOfMemory);
  }
}

// The leading `width` bytes of a data VARIANT, most significant first.
std::uint32_t ReadNetworkOrder(VARIANT* net, UINT width) {
  fw::unique_bstr bytes;
  switch (BytesFromVariant(net, bytes)) {
    case DataError::NotConvertible:
      ThrowUdpError(kErrBadArgument);
    case DataError::CannotFlatten:
      ThrowUdpError(kErrOutOfMemory);
    case DataError::None:
      break;
  }
  if (::SysStringByteLen(bytes.get()) < width) ThrowUdpError(kErrBadArgument);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.get());
  std::uint32_t value = 0;
  for (UINT i = 0; i < width; ++i) value = (value << 8) | data[i];
  return value;
}

}  // namespace

void Endpoint::htonl(double host, VARIANT* result) {
  const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(TruncateToInt64(host)));
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(low >> 24), static_cast<unsigned char>(low >> 16),
      static_cast<unsigned char>(low >> 8), static_cast<unsigned char>(low)};
  NetworkBytesVariant(bytes, sizeof bytes, result);
}

void Endpoint::htons(LONG host, VARIANT* result) {
  const auto low = static_cast<std::uint16_t>(static_cast<std::uint32_t>(host));
  const unsigned char bytes[2] = {static_cast<unsigned char>(low >> 8),
                                  static_cast<unsigned char>(low)};
  NetworkBytesVariant(bytes, sizeof bytes, result);
}

double Endpoint::ntohl(VARIANT* net) { return ReadNetworkOrder(net, 4); }

LONG Endpoint::ntohs(VARIANT* net) { return static_cast<LONG>(ReadNetworkOrder(net, 2)); }

}  // namespace udp
