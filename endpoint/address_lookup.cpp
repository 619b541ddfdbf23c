// The resolver's structures need the Windows Sockets 2 headers, included before winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "endpoint/address_lookup.h"

#include <atomic>
#include <mutex>
#include <new>

#include "endpoint/lookup_relay.h"
#include "endpoint/winsock_api.h"
#include "framework/module.h"

namespace udp {

namespace {
// What the resolver is asked for: UDP addresses of IPv6, and of IPv4 too when withIpv4.
ADDRINFOEXW DatagramHints(bool withIpv4) {
  ADDRINFOEXW hints{};
  hints.ai_family = withIpv4 ? AF_UNSPEC : AF_INET6;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  return hints;
}
}  // namespace

struct AddressLookupRequest {
  OVERLAPPED overlapped{};  // first: the completion routine is handed its address
  ADDRINFOEXW* results = nullptr;
  HANDLE cancelHandle = nullptr;
  HWND relay = nullptr;
  // For a resolver that cannot answer asynchronously (before Windows 8): what the pool's thread
  // looks up.
  std::wstring name;
  ADDRINFOEXW hints{};
  // Made at the start, so that a completion never lacks the memory to report.
  std::unique_ptr<AddressLookupResult> message;
  // The channel, the resolver and the posted message.
  std::atomic<int> users{3};
  // Held around the cancel, so that the resolver's handle is never used once the routine has
  // run. Recursive: a resolver may complete a cancelled request inside the cancel call.
  std::recursive_mutex lock;
  bool completed = false;

  AddressLookupRequest() { fw::ModuleAddRef(); }
  ~AddressLookupRequest() { fw::ModuleRelease(); }
  void Release() {
    if (--users == 0) delete this;
  }
  static void CALLBACK Completed(DWORD error, DWORD bytes, OVERLAPPED* overlapped);
  static DWORD WINAPI ResolveOnPool(void* request);
};

// The system's thread pool waits for the resolver where the resolver cannot call back itself.
DWORD WINAPI AddressLookupRequest::ResolveOnPool(void* context) {
  auto* request = static_cast<AddressLookupRequest*>(context);
  const int error = Winsock().GetAddrInfoExW(request->name.c_str(), nullptr, NS_ALL, nullptr,
                                             reinterpret_cast<const addrinfoExW*>(&request->hints),
                                             reinterpret_cast<addrinfoExW**>(&request->results),
                                             nullptr, nullptr, nullptr, nullptr);
  Completed(static_cast<DWORD>(error), 0, &request->overlapped);
  return 0;
}

AddressLookupResult::~AddressLookupResult() {
  if (m_request) m_request->Release();
}

// Runs on the resolver's thread: copy, free, post, let go.
void CALLBACK AddressLookupRequest::Completed(DWORD error, DWORD, OVERLAPPED* overlapped) {
  auto* request = reinterpret_cast<AddressLookupRequest*>(overlapped);
  {
    std::lock_guard guard(request->lock);
    request->completed = true;
  }
  AddressLookupResult& message = *request->message;
  message.error = static_cast<int>(error);
  try {
    for (auto* r = request->results; r && error == 0;
         r = reinterpret_cast<ADDRINFOEXW*>(r->ai_next))
      if (r->ai_addr && (r->ai_family == AF_INET || r->ai_family == AF_INET6))
        message.addresses.push_back(
            SocketAddress::From(r->ai_addr, static_cast<int>(r->ai_addrlen)));
  } catch (...) {
    message.addresses.clear();
    message.error = WSA_NOT_ENOUGH_MEMORY;
  }
  if (request->results) Winsock().FreeAddrInfoExW(reinterpret_cast<addrinfoExW*>(request->results));
  request->results = nullptr;
  AddressLookupResult* posted = request->message.release();
  if (!::PostMessageW(request->relay, kMsgGetAddrInfo, reinterpret_cast<WPARAM>(request),
                      reinterpret_cast<LPARAM>(posted)))
    delete posted;
  request->Release();
}

std::optional<SocketAddress> ResolveIpv6Now(const std::wstring& name, int* error) {
  const ADDRINFOEXW hints = DatagramHints(false);
  addrinfoExW* results = nullptr;
  auto& ws = Winsock();
  *error = ws.GetAddrInfoExW(name.c_str(), nullptr, NS_ALL, nullptr,
                             reinterpret_cast<const addrinfoExW*>(&hints), &results, nullptr,
                             nullptr, nullptr, nullptr);
  std::optional<SocketAddress> first;
  if (*error == 0 && results) {
    const auto* r = reinterpret_cast<const ADDRINFOEXW*>(results);
    if (r->ai_addr) first = SocketAddress::From(r->ai_addr, static_cast<int>(r->ai_addrlen));
  }
  if (results) ws.FreeAddrInfoExW(results);
  if (*error == 0 && !first) *error = WSANO_DATA;
  return first;
}

std::optional<int> AddressLookup::Start(Endpoint* owner, const std::wstring& name, bool withIpv4) {
  HWND relay = lookup_relay::Window();
  if (!relay) return WSAENOBUFS;
  auto* request = new (std::nothrow) AddressLookupRequest;
  if (!request) return WSAENOBUFS;
  request->message.reset(new (std::nothrow) AddressLookupResult(request));
  if (!request->message) {
    request->users = 1;
    request->Release();
    return WSAENOBUFS;
  }
  request->relay = relay;
  const ADDRINFOEXW& hints = request->hints = DatagramHints(withIpv4);
  // Tracked before the call: the routine may post before the call returns.
  const auto task = reinterpret_cast<HANDLE>(request);
  lookup_relay::Track(task, owner);
  int started = Winsock().GetAddrInfoExW(
      name.c_str(), nullptr, NS_ALL, nullptr, reinterpret_cast<const addrinfoExW*>(&hints),
      reinterpret_cast<addrinfoExW**>(&request->results), nullptr, &request->overlapped,
      &AddressLookupRequest::Completed, &request->cancelHandle);
  // A resolver without asynchronous requests refuses the OVERLAPPED: the pool waits instead.
  if (started == WSAEINVAL || started == WSAEOPNOTSUPP) {
    try {
      request->name = name;
      started =
          ::QueueUserWorkItem(&AddressLookupRequest::ResolveOnPool, request, WT_EXECUTEDEFAULT)
              ? WSA_IO_PENDING
              : WSAENOBUFS;
    } catch (const std::bad_alloc&) {
      started = WSAENOBUFS;
    }
  }
  if (started == NO_ERROR) {
    // Answered at once: the completion still comes as a message, as from any other look-up.
    AddressLookupRequest::Completed(0, 0, &request->overlapped);
  } else if (started != WSA_IO_PENDING) {
    lookup_relay::ForgetTask(task);
    request->message.reset();  // the message's hold
    request->users = 1;        // neither the resolver's nor a message's any more
    request->Release();
    return started;
  }
  m_task = request;
  return std::nullopt;
}

void AddressLookup::Cancel() noexcept {
  if (!m_task) return;
  {
    std::lock_guard guard(m_task->lock);
    // A resolver without a handle to cancel with (Wine gives none) completes the request anyway.
    if (!m_task->completed && m_task->cancelHandle)
      Winsock().GetAddrInfoExCancel(&m_task->cancelHandle);
  }
  lookup_relay::Abandon(reinterpret_cast<HANDLE>(m_task), LookupBuffer{});
  m_task->Release();
  m_task = nullptr;
}

const AddressLookupResult* AddressLookup::Claim(WPARAM task, LPARAM result) {
  if (!m_task || task != reinterpret_cast<WPARAM>(m_task) || !result) return nullptr;
  m_task->Release();  // the message still holds it while the result is read
  m_task = nullptr;
  return reinterpret_cast<const AddressLookupResult*>(result);
}

void AddressLookup::HandOver() noexcept {
  if (!m_task) return;
  m_task->Release();
  m_task = nullptr;
}

}  // namespace udp
