// The failure convention: a failure outside a call is reported to the owner, which raises it and
// settles it (the automatic close unless cancelled, the drop of the datagram that failed); a
// failure inside a call records LastError and fails the call.
#include "endpoint/endpoint.h"
#include "endpoint/errors.h"

namespace udp {

void Endpoint::ReportFailure(LONG ecode, const wchar_t* description, const wchar_t* where,
                             bool failedDatagram) {
  // One failure per datagram: once it failed, what else goes wrong with it is already told.
  if (failedDatagram && m_pendingFailed) return;
  // The endpoint is taken now: when the report waits, the host may have opened another since.
  const EndpointFailure failure{ecode, description, where, m_openCount,
                                failedDatagram ? m_pendingNumber : 0};
  if (failedDatagram) {
    m_pendingFailed = true;
    // The datagram's other look-up has nothing left to do: its completion must not report the
    // same datagram again.
    CancelLookup(m_hostLookup);
    CancelLookup(m_servLookup);
    m_addressLookup.Cancel();
  }
  // However the report ends (no memory to hold it, a handler's failure), the failure is settled
  // as one nobody cancelled: otherwise a failed datagram would stay pending and every SendTo
  // would answer "not writable" until Close.
  try {
    m_events.OnEndpointFailure(failure);
  } catch (...) {
    SettleFailure(failure, false);
    throw;
  }
}

void Endpoint::SettleFailure(const EndpointFailure& failure, bool cancelClose) {
  // A handler that reopened the port, or a host that opened another since, keeps it.
  if (failure.endpoint != m_openCount) return;
  if (!cancelClose) Close();
  if (!failure.failedDatagram || !m_socket) return;
  // A datagram the host sent after this one failed (from the handler, once Sendable allowed) is
  // not this failure's to drop.
  if (!m_pendingData || m_pendingNumber != failure.failedDatagram) return;
  // The host keeps the port open so that it goes on working: the datagram whose failure it has
  // just heard goes (its look-ups were cancelled when it failed).
  m_pendingData.reset();
  m_broadcastTargets.clear();
  m_pendingFailed = false;
}

void Endpoint::ReportWinsockFailure(int wsaError, const wchar_t* where, bool failedDatagram) {
  m_state = kStateFailed;
  m_lastError = wsaError;
  ReportFailure(wsaError, ErrorMessage(kErrWinsock), where, failedDatagram);
}

void Endpoint::FailCall(int wsaError, bool setFailedState) {
  if (setFailedState) m_state = kStateFailed;
  m_lastError = wsaError;
  ThrowWinsockError(wsaError);
}

}  // namespace udp
