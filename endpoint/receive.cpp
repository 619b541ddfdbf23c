// Receiving: one datagram per read notification, handed to the owner; and the AnyData slot.
#include <memory>
#include <new>

#include "endpoint/data_variant.h"
#include "endpoint/errors.h"
#include "endpoint/endpoint.h"
#include "endpoint/where_texts.h"
#include "framework/text.h"

namespace udp {

void Endpoint::HandleRead(WPARAM, LPARAM) {
  if (!m_socket) return;
  // One buffer of the maximum datagram size serves every read until the endpoint closes.
  if (!m_receiveBuffer) {
    m_receiveBuffer.reset(new (std::nothrow) char[static_cast<size_t>(m_maxDatagram)]);
    if (!m_receiveBuffer) {
      ReportFailure(kErrOutOfMemory, ErrorMessage(kErrOutOfMemory), where::kReadMemory);
      return;
    }
  }
  auto& ws = Winsock();
  int fromLength = 0;
  PacketDestination to;
  const int n = m_destinations.Enabled()
                    ? m_destinations.Receive(m_socket.get(), m_receiveBuffer.get(),
                                             m_maxDatagram, m_fromAddr, to)
                    : udp_recv(m_socket.get(), m_receiveBuffer.get(), m_maxDatagram, 0,
                               m_fromAddr.Out(&fromLength), &fromLength);
  if (n == SOCKET_ERROR) {
    const int error = ws.WSAGetLastError();
    // A datagram sent earlier met a port where nobody listens (an ICMP report). That says nothing
    // about this endpoint, which goes on reading; a dead peer must not close it.
    if (error == WSAECONNRESET || error == WSAENETRESET) return;
    m_state = kStateFailed;
    m_lastError = error;
    if (error != WSAEWOULDBLOCK) ReportFailure(error, ErrorMessage(kErrWinsock), where::kReceive);
    return;
  }
  if (n == 0) return;
  if (!m_destinations.Enabled()) m_fromAddr.Written(fromLength);

  try {
    m_senderTexts.Update(m_fromAddr);
  } catch (const std::bad_alloc&) {
    // The datagram has been taken from the socket and cannot be delivered: say so.
    ReportFailure(kErrOutOfMemory, ErrorMessage(kErrOutOfMemory), where::kReadMemory);
    return;
  }
  // The owner copies the bytes out before any handler runs, so that a handler may close or
  // reopen.
  m_events.OnEndpointReceived(m_fromAddr, m_senderTexts.address(), m_senderTexts.port(), to,
                              m_receiveBuffer.get(), static_cast<size_t>(n));
}

int Endpoint::udp_recv(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                       int* fromLength) {
  return Winsock().recvfrom(s, buffer, length, flags, from, fromLength);
}

std::wstring Endpoint::GetToAddress() const {
  return fw::WideFromAnsi(m_currentDestination.address.AddressText());
}

namespace {
// A copy that failed is reported: out of memory as such, anything else as a value that cannot
// be taken. What the failed copy left in its target is abandoned, never cleared: it may still
// point into the source.
[[noreturn]] void FailCopy(HRESULT hr, VARIANT& target) {
  target = VARIANT{};
  ThrowUdpError(hr == E_OUTOFMEMORY ? kErrOutOfMemory : kErrBadArgument);
}
}  // namespace

void Endpoint::GetAnyData(VARIANT* result) const {
  VARIANT copy{};
  const HRESULT hr = ::VariantCopy(&copy, const_cast<fw::unique_variant*>(&m_anyData));
  if (FAILED(hr)) FailCopy(hr, copy);
  *result = copy;
}

void Endpoint::SetAnyData(VARIANT* value) {
  // A value that cannot be copied leaves the stored one as it was.
  VARIANT copy{};
  const HRESULT hr = ::VariantCopyInd(&copy, value);
  if (FAILED(hr)) FailCopy(hr, copy);
  m_anyData.reset();
  static_cast<VARIANT&>(m_anyData) = copy;
}

}  // namespace udp
