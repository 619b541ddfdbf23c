// The resolver's structures need the Windows Sockets 2 headers, included before winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "endpoint/address_lookup.h"

#include <atomic>
#include <mutex>

#include "endpoint/lookup_relay.h"
#include "endpoint/winsock_api.h"
#include "framework/module.h"

namespace udp {

struct AddressLookup::Request {
  OVERLAPPED overlapped{};  // first: the completion routine is handed its address
  ADDRINFOEXW* results = nullptr;
  HANDLE cancelHandle = nullptr;
  HWND relay = nullptr;
  // The routine and the channel; the last to let go frees the request.
  std::atomic<int> users{2};
  // Held around the cancel, so that the resolver's handle is never used once the routine has
  // run. Recursive: a resolver may complete a cancelled request inside the cancel call.
  std::recursive_mutex lock;
  bool completed = false;

  void Release() {
    if (--users == 0) delete this;
  }
  static void CALLBACK Completed(DWORD error, DWORD bytes, OVERLAPPED* overlapped);
};

namespace {

// The results as the message carries them; nothing when there is no memory for them, which the
// endpoint reads as the resolver's failure for want of memory.
AddressLookupResult* CopyResults(int error, const ADDRINFOEXW* results) noexcept {
  try {
    auto copy = std::make_unique<AddressLookupResult>();
    copy->error = error;
    for (const ADDRINFOEXW* r = results; r && error == 0;
         r = reinterpret_cast<const ADDRINFOEXW*>(r->ai_next))
      if (r->ai_addr && (r->ai_family == AF_INET || r->ai_family == AF_INET6))
        copy->addresses.push_back(
            SocketAddress::From(r->ai_addr, static_cast<int>(r->ai_addrlen)));
    return copy.release();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

// Runs on the resolver's thread: copy, free, post, let go. The module reference taken at the
// start is the message's from here on, and is released where the message is handled.
void CALLBACK AddressLookup::Request::Completed(DWORD error, DWORD, OVERLAPPED* overlapped) {
  Request* request = reinterpret_cast<Request*>(overlapped);
  {
    std::lock_guard guard(request->lock);
    request->completed = true;
  }
  AddressLookupResult* results = CopyResults(static_cast<int>(error), request->results);
  if (request->results) Winsock().FreeAddrInfoExW(reinterpret_cast<addrinfoExW*>(request->results));
  request->results = nullptr;
  if (!::PostMessageW(request->relay, kMsgGetAddrInfo, reinterpret_cast<WPARAM>(request),
                      reinterpret_cast<LPARAM>(results))) {
    delete results;
    fw::ModuleRelease();
  }
  request->Release();
}

std::optional<SocketAddress> ResolveIpv6Now(const std::wstring& name, int* error) {
  ADDRINFOEXW hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
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

std::optional<int> AddressLookup::Start(Endpoint* owner, const std::wstring& name,
                                        bool withIpv4) {
  HWND relay = lookup_relay::Window();
  if (!relay) return WSAENOBUFS;
  auto* request = new (std::nothrow) Request;
  if (!request) return WSAENOBUFS;
  request->relay = relay;
  ADDRINFOEXW hints{};
  hints.ai_family = withIpv4 ? AF_UNSPEC : AF_INET6;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  fw::ModuleAddRef();
  // Tracked before the call: the routine may post before the call returns.
  lookup_relay::Track(reinterpret_cast<HANDLE>(request), owner);
  const int started = Winsock().GetAddrInfoExW(
      name.c_str(), nullptr, NS_ALL, nullptr, reinterpret_cast<const addrinfoExW*>(&hints),
      reinterpret_cast<addrinfoExW**>(&request->results), nullptr, &request->overlapped,
      &Request::Completed, &request->cancelHandle);
  if (started == NO_ERROR) {
    // Answered at once: the completion still comes as a message, as from any other look-up.
    Request::Completed(0, 0, &request->overlapped);
  } else if (started != WSA_IO_PENDING) {
    lookup_relay::ForgetTask(reinterpret_cast<HANDLE>(request));
    fw::ModuleRelease();
    delete request;
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
  if (!m_task || task != reinterpret_cast<WPARAM>(m_task)) return nullptr;
  static const AddressLookupResult kNoMemory{WSA_NOT_ENOUGH_MEMORY, {}};
  m_task->Release();
  m_task = nullptr;
  return result ? reinterpret_cast<const AddressLookupResult*>(result) : &kNoMemory;
}

void AddressLookup::HandOver() noexcept {
  if (!m_task) return;
  m_task->Release();
  m_task = nullptr;
}

}  // namespace udp
