// Socket notifications: stored in a ring and dispatched one per window message, so that a
// notification arriving while an event handler pumps messages waits until that handler returns.
#include "endpoint/errors.h"
#include "endpoint/endpoint.h"
#include "endpoint/where_texts.h"

namespace udp {

namespace {
constexpr wchar_t kInvalidEvent[] = L"INVALID SelectEvent value in OnSocketEvent2()";
constexpr int RingNext(int index) { return (index + 1) % kNotifyRingSize; }
}  // namespace

LRESULT Endpoint::OnSocketNotify(WPARAM socket, LPARAM eventWord) {
  if (!m_socket) return 0;
  if (LOWORD(eventWord) != 0) {
    // One slot stays free so that a full ring and an empty one differ; when the ring is full,
    // or earlier arrivals already wait behind it, the notification queues behind them.
    if (!m_notifyOverflow.empty() || RingNext(m_notifyIn) == m_notifyOut) {
      m_notifyOverflow.push_back({socket, eventWord});
    } else {
      m_notifyQueue[m_notifyIn] = {socket, eventWord};
      m_notifyIn = RingNext(m_notifyIn);
    }
  }
  // A dispatch running further up the stack, or events held by the container (frozen, or thawed
  // with held events not yet raised): the entry waits in the ring, so that the host sees what
  // happened in its order; the thaw resumes the dispatch once the held events are out.
  if (m_inNotify || m_events.HoldsNotifications()) return 0;

  m_inNotify = true;
  // Even when a handler fails with an exception, the flag must drop and the waiting entries must
  // be scheduled: otherwise every later notification would be stored and none dispatched.
  struct DispatchTurn {
    Endpoint& endpoint;
    ~DispatchTurn() {
      if (endpoint.m_notifyIn != endpoint.m_notifyOut) endpoint.PostSocketNotify(0);
      endpoint.m_inNotify = false;
    }
  } turn{*this};
  if (m_notifyIn != m_notifyOut) {
    const SocketNotification next = m_notifyQueue[m_notifyOut];
    m_notifyOut = RingNext(m_notifyOut);
    // Move the oldest overflow entry into the slot just freed, keeping arrival order.
    if (!m_notifyOverflow.empty()) {
      m_notifyQueue[m_notifyIn] = m_notifyOverflow.front();
      m_notifyIn = RingNext(m_notifyIn);
      m_notifyOverflow.pop_front();
    }
    OnSocketEvent2(next.socket, next.eventWord);
  }
  return 0;
}

LRESULT Endpoint::OnSocketEvent2(WPARAM socket, LPARAM eventWord) {
  if (!m_socket) return 0;
  const WORD event = WSAGETSELECTEVENT(eventWord);
  const WORD error = WSAGETSELECTERROR(eventWord);
  if (error != 0 && event != FD_CLOSE) {
    m_lastError = error;
    const wchar_t* place = event == FD_READ    ? where::kReadEvent
                           : event == FD_WRITE ? where::kWriteEvent
                                               : where::kOtherEvent;
    if (event != FD_READ && event != FD_WRITE) m_events.TellUser(kInvalidEvent, MB_OK);
    // A write notification that carries an error while a datagram waits is that datagram's
    // failure: it is reported once and not tried again, and goes if the close is cancelled.
    ReportWinsockFailure(error, place, event == FD_WRITE && m_pendingData);
    return 0;
  }
  switch (event) {
    case FD_READ:
      HandleRead(socket, eventWord);
      break;
    case FD_WRITE:
      if (!m_readyFired) {
        m_readyFired = true;
        m_events.OnEndpointReady();
      } else {
        HandleWrite(socket, eventWord);
      }
      break;
    case FD_CLOSE:
      Close();
      break;
    default:
      // An owner without a form has nobody to click a box: it hears of it as of any failure.
      if (!m_events.TellUser(kInvalidEvent, MB_OK))
        ReportWinsockFailure(WSAEINVAL, where::kOtherEvent);
      break;
  }
  m_events.OnEndpointModified();
  return 0;
}

}  // namespace udp

namespace udp {

bool Endpoint::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  // A look-up completion reaches its handler only when the channel claims it as its own.
  auto complete = [&](LookupChannel& channel, void (Endpoint::*handler)(const LookupCompletion&)) {
    if (auto completion = channel.Claim(wParam, lParam)) (this->*handler)(*completion);
  };
  switch (message) {
    case kMsgSocketNotify:
      result = OnSocketNotify(wParam, lParam);
      return true;
    case kMsgGetHost:
      complete(m_hostLookup, &Endpoint::OnAsyncGetHostByName);
      return true;
    case kMsgGetServ:
      complete(m_servLookup, &Endpoint::OnAsyncGetServByName);
      return true;
    case kMsgGetLocalServ:
      complete(m_localServLookup, &Endpoint::OnAsyncGetLocalServByName);
      return true;
    case kMsgGetInetHost:
      complete(m_inetLookup, &Endpoint::OnAsyncGetInetHost);
      return true;
    case kMsgGetAddrInfo:
      if (const AddressLookupResult* found = m_addressLookup.Claim(wParam, lParam))
        OnGetAddrInfoEx(*found);
      return true;
    default:
      return false;
  }
}

void Endpoint::OnWindowChanged() {
  if (!m_socket) return;
  // An open socket keeps reporting to the window that exists now, not to the one just destroyed.
  Winsock().WSAAsyncSelect(m_socket.get(), Window(), kMsgSocketNotify, FD_READ | FD_WRITE);
  // What the endpoint had posted to the old window died with it: the continue message of waiting
  // notifications, Ready's write notification, the write notification of a pending datagram.
  // Posting one of them twice is harmless.
  ResumeWaitingNotifications();
  if (!m_readyFired) PostSocketNotify(FD_WRITE);
  SendWhenResolved();
}

void Endpoint::ResumeWaitingNotifications() {
  if (m_socket && !m_inNotify && !m_events.HoldsNotifications() && m_notifyIn != m_notifyOut)
    PostSocketNotify(0);
}

}  // namespace udp
