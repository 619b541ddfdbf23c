// UdpSocket's events: what it hears from its endpoint, the events it holds while one of its
// handlers runs, raising them to the sinks and callbacks, the receive queue, and the message pump
// of Wait and Receive.
//
// Implementation details. The endpoint reports everything to this object, which only records it
// (a held event, a queued datagram). The events are raised when the endpoint has finished the
// window message that produced them (OnWindowMessage) or the host's call that did (Invoke), and
// only while none of this object's handlers runs; so a handler never runs inside the endpoint's
// notification dispatch, whose next notifications (the datagrams a Receive inside the handler
// waits for) therefore keep coming.
#include <algorithm>
#include <climits>
#include <utility>

#include "endpoint/data_variant.h"
#include "control/udp_ctrl.h"
#include "framework/automation_error.h"
#include "server/udp_socket.h"

namespace server {

namespace {
struct DepthGuard {
  int& depth;
  explicit DepthGuard(int& d) : depth(d) { ++depth; }
  ~DepthGuard() { --depth; }
};
}  // namespace

// What the endpoint reports

void CUdpSocket::OnEndpointReady() {
  Hold([this] { Raise(udp::kEventReady, {}); });
}
void CUdpSocket::OnEndpointSent() {
  Hold([this] { Raise(udp::kEventSent, {}); });
}
void CUdpSocket::OnEndpointClosed() {
  Hold([this] { RaiseClosed(); });
}
void CUdpSocket::OnEndpointFailure(const udp::EndpointFailure& failure) {
  // The endpoint settles a failure that cannot be held (no memory) as one nobody cancelled.
  Hold([this, failure] { RaiseWsError(failure); });
}

void CUdpSocket::OnEndpointReceived(const udp::SocketAddress& from, BSTR address, BSTR port,
                                    const udp::PacketDestination& to, const char* data,
                                    size_t length) {
  ++m_eventsHeard;
  // The innermost waiting Receive that has none yet takes it, whatever the limits.
  const auto waiting = std::find_if(m_receiveWaits.rbegin(), m_receiveWaits.rend(),
                                    [](const ReceiveWait* w) { return !w->datagram; });
  // One that a handler takes as soon as the endpoint's message is done passes through the queue
  // whatever its limits; any other waits there, and only within them.
  const bool takenAtOnce = m_handlerDepth == 0 && HasReceivedTakers();
  if (waiting == m_receiveWaits.rend() && !takenAtOnce &&
      (m_queue.size() >= static_cast<size_t>(m_queueLimit) ||
       m_queuedBytes + length > static_cast<size_t>(m_queueByteLimit))) {
    CountDropped();
    return;
  }
  // A datagram that cannot be kept is dropped like one beyond the limits; the endpoint goes on.
  const HRESULT kept = fw::ComBarrier([&] {
    if (!m_lastSender || !(m_lastSender->address == from)) {
      auto sender = std::make_shared<Sender>();
      sender->address = from;
      sender->addressText.reset(::SysAllocStringLen(address, ::SysStringLen(address)));
      sender->portText.reset(::SysAllocStringLen(port, ::SysStringLen(port)));
      if (!sender->addressText || !sender->portText) throw std::bad_alloc();
      m_lastSender = std::move(sender);
    }
    Datagram datagram{m_nextDatagram++, m_lastSender, to, {}, length};
    udp::VariantFromBytes(data, static_cast<UINT>(length), &datagram.data);
    if (waiting != m_receiveWaits.rend()) {
      (*waiting)->datagram = std::move(datagram);
      return;
    }
    m_held.Hold([this, id = datagram.id] { RaiseReceived(id); });
    m_queue.push_back(std::move(datagram));
    m_queuedBytes += length;
  });
  if (FAILED(kept)) CountDropped();
}

void CUdpSocket::CountDropped() {
  if (m_dropped < LONG_MAX) ++m_dropped;
}

void CUdpSocket::Keep(Datagram&& datagram) {
  if (m_queue.size() >= static_cast<size_t>(m_queueLimit) ||
      m_queuedBytes + datagram.size > static_cast<size_t>(m_queueByteLimit)) {
    CountDropped();
    return;
  }
  // Arrival order is the datagrams' numbers.
  const auto later = std::find_if(m_queue.begin(), m_queue.end(),
                                  [&](const Datagram& d) { return d.id > datagram.id; });
  m_queuedBytes += datagram.size;
  m_queue.insert(later, std::move(datagram));
}

void CUdpSocket::Hold(std::function<void()> raise) {
  ++m_eventsHeard;
  m_held.Hold(std::move(raise));
}

// Raising

void CUdpSocket::RaiseHeldEvents() {
  if (m_handlerDepth > 0 || !m_held.Pending()) return;
  // A sink or a callback may let go of the last reference to this object.
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  m_held.Raise([this] { return m_handlerDepth == 0; });
}

void CUdpSocket::RaiseClosed() {
  Raise(udp::kEventClosed, {});
  // The port is closed and stays so: the callbacks go, and with them any reference they hold to
  // this object, which a script's collector cannot see.
  if (!m_endpoint.IsOpen())
    for (auto& callback : m_callbacks) callback.reset();
}

void CUdpSocket::RaiseReceived(uint64_t id) {
  // Nobody would take it: it stays queued.
  if (!HasReceivedTakers()) return;
  auto queued = std::find_if(m_queue.begin(), m_queue.end(),
                             [&](const Datagram& d) { return d.id == id; });
  // A Receive took it already.
  if (queued == m_queue.end()) return;
  // Out of the queue while it is raised: a Receive inside the handler gets the next one.
  Datagram datagram = std::move(*queued);
  TakeFromQueue(queued);
  const std::shared_ptr<const Sender> from = datagram.from;
  std::shared_ptr<const Sender> previous = std::exchange(m_from, from);
  // ToAddress and ToInterface read the endpoint's current destination, as FromAddress reads
  // m_from.
  const udp::PacketDestination previousTo = m_endpoint.CurrentDestination();
  m_endpoint.SetCurrentDestination(datagram.to);
  VARIANT args[3] = {};
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = from->addressText.get();
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = from->portText.get();
  args[2] = datagram.data;
  bool taken = false;
  Raise(udp::kEventReceived, args, &taken);
  // Every sink lacked the handler: the datagram is Receive's, as if no sink were connected, and
  // nobody has seen its sender. It passed the limits as one a handler would take, so they are
  // checked now.
  if (!taken) {
    if (m_from == from) {
      m_from = std::move(previous);
      m_endpoint.SetCurrentDestination(previousTo);
    }
    Keep(std::move(datagram));
  }
}

void CUdpSocket::RaiseWsError(const udp::EndpointFailure& failure) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  fw::unique_bstr description(::SysAllocString(failure.description));
  fw::unique_bstr where(::SysAllocString(failure.where));
  VARIANT args[4] = {};
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = failure.ecode;
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = description.get();
  V_VT(&args[2]) = VT_BSTR;
  V_BSTR(&args[2]) = where.get();
  V_VT(&args[3]) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&args[3]) = &cancel;
  fw::unique_variant result;
  try {
    result = Raise(udp::kEventWsError, args);
  } catch (...) {
    // However the raise ends, the failure is settled, as one nobody cancelled.
    m_endpoint.SettleFailure(failure, false);
    throw;
  }
  // A script function cannot set CancelClose: a True result stands for it.
  fw::unique_variant truth;
  if (V_VT(&result) != VT_EMPTY && SUCCEEDED(::VariantChangeType(&truth, &result, 0, VT_BOOL)) &&
      V_BOOL(&truth))
    cancel = VARIANT_TRUE;
  m_endpoint.SettleFailure(failure, cancel != VARIANT_FALSE);
}

fw::unique_variant CUdpSocket::Raise(DISPID id, std::span<VARIANT> args, bool* taken) {
  const DepthGuard depth(m_handlerDepth);
  const size_t handled = m_events.Fire(id, args);
  fw::unique_variant result;
  const size_t slot = static_cast<size_t>(id - udp::kEventWsError);
  // A copy: the callback may replace or remove itself.
  fw::com_ptr<IDispatch> callback = m_callbacks[slot];
  if (taken) *taken = handled > 0 || callback;
  if (!callback) return result;
  // A callback takes the arguments as Invoke does, last first.
  VARIANT reversed[4];
  const size_t count = std::min<size_t>(args.size(), 4);
  for (size_t i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPPARAMS params = {reversed, nullptr, static_cast<UINT>(count), 0};
  fw::unique_excepinfo excepInfo;
  UINT argErr = 0;
  const HRESULT hr = callback->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                      &params, &result, &excepInfo, &argErr);
  // A callback that fails is ignored; the events that follow still reach the next ones.
  if (FAILED(hr)) result.reset();
  return result;
}

bool CUdpSocket::HasReceivedTakers() const {
  return m_events.HasHandlersOf(udp::kEventReceived) ||
         m_callbacks[udp::kEventReceived - udp::kEventWsError];
}

void CUdpSocket::TakeFromQueue(std::deque<Datagram>::iterator datagram) {
  m_queuedBytes -= datagram->size;
  m_queue.erase(datagram);
}

// Pumping

bool CUdpSocket::Pump(const std::function<bool()>& done, LONG milliseconds) {
  fw::com_ptr<IDispatch> keepAlive(static_cast<IDispatch*>(this), true);
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  // Messages for the thread itself belong to the host's own loop, which may act on them before
  // it dispatches: they are taken out of the way and posted again, in order, on return.
  std::vector<MSG> forHost;
  struct Repost {
    std::vector<MSG>& messages;
    ~Repost() {
      for (const MSG& m : messages)
        ::PostThreadMessageW(::GetCurrentThreadId(), m.message, m.wParam, m.lParam);
    }
  } repost{forHost};
  for (;;) {
    if (done()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now > deadline) return false;
    MSG msg;
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (now == deadline) return false;
      ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
      continue;
    }
    if (msg.message == WM_QUIT) {
      // The host's own loop must still see it, and end.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return done();
    }
    // A thread timer with a procedure is run as the host's loop would run it.
    if (msg.hwnd == nullptr && !(msg.message == WM_TIMER && msg.lParam != 0)) {
      forHost.push_back(msg);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace server
