// Socket buffer sizes, the broadcast option and the read-only facts about the endpoint and the
// Windows Sockets implementation underneath it.
#include "endpoint/endpoint.h"

namespace udp {

namespace {

constexpr short kInterfaceVersion = 100;

// The size the system reports for one buffer option of an open socket; a failure is the
// caller's Windows Sockets error.
bool QueryBufferSize(SOCKET socket, int option, LONG& size) {
  int value = 0;
  int length = sizeof value;
  if (Winsock().getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char*>(&value), &length) ==
      SOCKET_ERROR)
    return false;
  size = value;
  return true;
}

bool ApplyBufferSize(SOCKET socket, int option, LONG size) {
  const int value = size;
  return Winsock().setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                              sizeof value) != SOCKET_ERROR;
}

}  // namespace

// While open the socket's own size is the truth; the stored request is only what the host asked
// for, and what is saved with the form.
LONG Endpoint::GetSndbuf() {
  if (!m_socket) return m_sndbuf;
  LONG size = 0;
  if (!QueryBufferSize(m_socket.get(), SO_SNDBUF, size))
    FailCall(Winsock().WSAGetLastError(), false);
  return size;
}

// The request is stored before anything can fail, so a refused size is still what the host reads
// back once the port is closed. Sizes of 0 or less are kept but never handed to the system.
void Endpoint::SetSndbuf(LONG value) {
  m_sndbuf = value;
  if (m_socket && value > 0 && !ApplyBufferSize(m_socket.get(), SO_SNDBUF, value))
    FailCall(Winsock().WSAGetLastError(), false);
  m_events.OnEndpointModified();
}

LONG Endpoint::GetRcvbuf() {
  if (!m_socket) return m_rcvbuf;
  LONG size = 0;
  if (!QueryBufferSize(m_socket.get(), SO_RCVBUF, size))
    FailCall(Winsock().WSAGetLastError(), false);
  return size;
}

void Endpoint::SetRcvbuf(LONG value) {
  m_rcvbuf = value;
  if (m_socket && value > 0 && !ApplyBufferSize(m_socket.get(), SO_RCVBUF, value))
    FailCall(Winsock().WSAGetLastError(), false);
  m_events.OnEndpointModified();
}

// The option reaches the socket in the write handler, just before each datagram goes out.
void Endpoint::OnBroadcastChanged() { m_events.OnEndpointModified(); }

std::wstring Endpoint::GetCopyright() const { return m_banner; }

short Endpoint::GetVersion() const { return kInterfaceVersion; }

std::wstring Endpoint::GetWinsockVer() const { return m_winsockVer; }
std::wstring Endpoint::GetWinsockDesc() const { return m_winsockDesc; }
std::wstring Endpoint::GetWinsockSysStat() const { return m_winsockSysStat; }
std::wstring Endpoint::GetWinsockMaxSockets() const { return m_winsockMaxSockets; }
std::wstring Endpoint::GetWinsockMaxDatagram() const { return m_winsockMaxDatagram; }

}  // namespace udp
