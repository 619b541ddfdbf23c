// The members that UdpSocket adds to the control's: waiting, receiving, the last sender, the
// text helpers, the receive queue's limits and the callbacks, as a plain table.
#include <string>

#include "control/surface.h"
#include "endpoint/data_variant.h"
#include "endpoint/errors.h"
#include "control/udp_ctrl.h"
#include "framework/dispatcher.h"
#include "framework/text.h"
#include "server/udp_socket.h"

namespace server {

namespace {

namespace surface = udp::surface;
using Table = fw::DispTable<CUdpSocket>;

constexpr LONG kUtf8 = 65001;
constexpr LONG kAnsi = 0;
constexpr LONG kUtf16 = 1200;

LONG Milliseconds(LONG ms) {
  if (ms < 0) udp::ThrowUdpError(udp::kErrBadArgument);
  return ms;
}

LONG CodePage(LONG codePage) {
  if (codePage != kUtf8 && codePage != kAnsi && codePage != kUtf16)
    udp::ThrowUdpError(udp::kErrBadArgument);
  return codePage;
}

UINT WindowsCodePage(LONG codePage) { return codePage == kAnsi ? CP_ACP : CP_UTF8; }

void TextToBytes(const std::wstring& text, LONG codePage, VARIANT* result) {
  if (codePage == kUtf16) {
    udp::VariantFromBytes(text.data(), static_cast<UINT>(text.size() * sizeof(wchar_t)), result);
    return;
  }
  const int length = static_cast<int>(text.size());
  const UINT cp = WindowsCodePage(codePage);
  const int n =
      length ? ::WideCharToMultiByte(cp, 0, text.data(), length, nullptr, 0, nullptr, nullptr) : 0;
  std::string bytes(static_cast<size_t>(n), '\0');
  if (n) ::WideCharToMultiByte(cp, 0, text.data(), length, bytes.data(), n, nullptr, nullptr);
  udp::VariantFromBytes(bytes.data(), static_cast<UINT>(n), result);
}

std::wstring BytesToText(const VARIANT* data, LONG codePage) {
  fw::unique_bstr bytes;
  switch (udp::BytesFromVariant(data, bytes)) {
    case udp::DataError::NotConvertible:
      udp::ThrowUdpError(udp::kErrBadArgument);
    case udp::DataError::CannotFlatten:
      udp::ThrowUdpError(udp::kErrOutOfMemory);
    case udp::DataError::None:
      break;
  }
  const char* raw = reinterpret_cast<const char*>(bytes.get());
  const UINT length = ::SysStringByteLen(bytes.get());
  if (codePage == kUtf16) {
    // Half a character is no UTF-16 text.
    if (length % sizeof(wchar_t)) udp::ThrowUdpError(udp::kErrBadArgument);
    return std::wstring(reinterpret_cast<const wchar_t*>(raw), length / sizeof(wchar_t));
  }
  const UINT cp = WindowsCodePage(codePage);
  const int n =
      length ? ::MultiByteToWideChar(cp, 0, raw, static_cast<int>(length), nullptr, 0) : 0;
  std::wstring text(static_cast<size_t>(n), L'\0');
  if (n) ::MultiByteToWideChar(cp, 0, raw, static_cast<int>(length), text.data(), n);
  return text;
}

// The callback property of one event.
template <DISPID kEvent>
consteval Table::Entry Callback(const fw::DispDeclaration& declaration) {
  return Table::Accessors(
      declaration, [](CUdpSocket& s, VARIANT* r) { s.GetCallback(kEvent, r); },
      [](CUdpSocket& s, const fw::DispArgs& a) { s.SetCallback(kEvent, a.Variant(0)); });
}

const Table::Entry kEntries[] = {
    Table::Method(surface::Wait,
                  [](CUdpSocket& s, const fw::DispArgs& a, VARIANT* r) {
                    fw::ResultBool(r, s.Wait(Milliseconds(a.I4(0))));
                  }),
    Table::Method(surface::Receive, [](CUdpSocket& s, const fw::DispArgs& a,
                                            VARIANT* r) { s.Receive(Milliseconds(a.I4(0)), r); }),
    Table::Accessors(surface::FromAddress,
                     [](CUdpSocket& s, VARIANT* r) { fw::ResultText(r, s.FromAddress()); }),
    Table::Accessors(surface::FromPort,
                     [](CUdpSocket& s, VARIANT* r) { fw::ResultText(r, s.FromPort()); }),
    Table::Method(surface::TextToBytes,
                  [](CUdpSocket&, const fw::DispArgs& a, VARIANT* r) {
                    TextToBytes(std::wstring(a.Text(0)), CodePage(a.I4(1)), r);
                  }),
    Table::Method(surface::BytesToText,
                  [](CUdpSocket&, const fw::DispArgs& a, VARIANT* r) {
                    const LONG codePage = CodePage(a.I4(1));
                    fw::ResultText(r, BytesToText(a.Variant(0), codePage));
                  }),
    Table::Accessors(surface::Queued,
                     [](CUdpSocket& s, VARIANT* r) { fw::ResultI4(r, s.Queued()); }),
    Table::Accessors(
        surface::QueueLimit,
        [](CUdpSocket& s, VARIANT* r) { fw::ResultI4(r, s.GetQueueLimit()); },
        [](CUdpSocket& s, const fw::DispArgs& a) { s.SetQueueLimit(a.I4(0)); }),
    Table::Accessors(
        surface::QueueByteLimit,
        [](CUdpSocket& s, VARIANT* r) { fw::ResultI4(r, s.GetQueueByteLimit()); },
        [](CUdpSocket& s, const fw::DispArgs& a) { s.SetQueueByteLimit(a.I4(0)); }),
    Table::Accessors(surface::Dropped,
                     [](CUdpSocket& s, VARIANT* r) { fw::ResultI4(r, s.Dropped()); }),
    Callback<udp::kEventReady>(surface::OnReady),
    Callback<udp::kEventReceived>(surface::OnReceived),
    Callback<udp::kEventSent>(surface::OnSent),
    Callback<udp::kEventClosed>(surface::OnClosed),
    Callback<udp::kEventWsError>(surface::OnWsError),
};

}  // namespace

const std::span<const fw::DispEntry<CUdpSocket>> kUdpSocketDispatch = kEntries;

bool CUdpSocket::Wait(LONG milliseconds) {
  // Inside one of this object's handlers too: its events wait for the handler, but what arrives
  // meanwhile counts, so a loop of Waits there waits rather than spins.
  const unsigned long before = m_eventsHeard;
  return Pump([&] { return m_eventsHeard != before; }, milliseconds);
}

void CUdpSocket::Receive(LONG milliseconds, VARIANT* result) {
  if (!m_queue.empty()) {
    Datagram& oldest = m_queue.front();
    m_from = oldest.from;
    m_endpoint.SetCurrentDestination(oldest.to);
    oldest.data.release_to(result);
    TakeFromQueue(m_queue.begin());
    return;
  }
  if (!m_endpoint.IsOpen()) udp::ThrowUdpError(udp::kErrNotOpen);
  // The first datagram to arrive from now on is this call's (OnEndpointReceived hands it over).
  ReceiveWait wait;
  m_receiveWaits.push_back(&wait);
  struct Done {
    std::vector<ReceiveWait*>& waits;
    ReceiveWait* wait;
    ~Done() { std::erase(waits, wait); }
  } done{m_receiveWaits, &wait};
  // A port that closes while Receive waits brings no datagram any more.
  Pump([&] { return wait.datagram.has_value() || !m_endpoint.IsOpen(); }, milliseconds);
  if (!wait.datagram) return;
  m_from = wait.datagram->from;
  m_endpoint.SetCurrentDestination(wait.datagram->to);
  wait.datagram->data.release_to(result);
}

std::wstring CUdpSocket::FromAddress() const {
  return m_from ? fw::WideFromBstr(m_from->addressText.get()) : std::wstring();
}

std::wstring CUdpSocket::FromPort() const {
  return m_from ? fw::WideFromBstr(m_from->portText.get()) : std::wstring();
}

void CUdpSocket::SetQueueLimit(LONG datagrams) {
  if (datagrams < 0) udp::ThrowUdpError(udp::kErrBadArgument);
  m_queueLimit = datagrams;
}

void CUdpSocket::SetQueueByteLimit(LONG bytes) {
  if (bytes < 0) udp::ThrowUdpError(udp::kErrBadArgument);
  m_queueByteLimit = bytes;
}

void CUdpSocket::GetCallback(DISPID event, VARIANT* result) const {
  IDispatch* callback = m_callbacks[event - udp::kEventWsError].get();
  if (callback) callback->AddRef();
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = callback;
}

void CUdpSocket::SetCallback(DISPID event, VARIANT* value) {
  fw::unique_variant plain;
  if (FAILED(::VariantCopyInd(&plain, value))) udp::ThrowUdpError(udp::kErrBadArgument);
  fw::com_ptr<IDispatch> callback;
  switch (V_VT(&plain)) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_DISPATCH:
      callback = fw::com_ptr<IDispatch>(V_DISPATCH(&plain), true);
      break;
    case VT_UNKNOWN:
      if (V_UNKNOWN(&plain) &&
          FAILED(V_UNKNOWN(&plain)->QueryInterface(IID_IDispatch, callback.put_void())))
        udp::ThrowUdpError(udp::kErrBadArgument);
      break;
    default:
      // Nothing else can be called.
      udp::ThrowUdpError(udp::kErrBadArgument);
  }
  // The old callback may be running: the caller's copy keeps it alive until it returns.
  m_callbacks[event - udp::kEventWsError] = std::move(callback);
}

}  // namespace server
