// A host name looked up for an IPv6 socket by the system's address resolver (GetAddrInfoExW),
// asynchronously: the resolver calls back on a thread of its own (where it cannot, before Windows
// 8, a thread of the system's pool waits for it), and the completion reaches the endpoint as a
// window message through the look-up relay, like every other look-up's.
//
// Implementation details. A request lives on the heap until all of its users are done with it:
// the channel (which may cancel it), the resolver until its completion routine has run (which
// copies the results out, frees the resolver's list and posts them), and the posted results. The
// results travel in the message, owned by it: the relay frees them once delivered, or when no
// endpoint claims them; a completion that cannot be posted (the relay window has gone with its
// thread) frees them itself. So nothing the resolver writes is freed while it may still write it,
// nothing is left behind when the endpoint has gone, and a request's address, which names it to
// the relay, is not reused while a completion naming it may still arrive. A request holds the
// module while it lives: the completion routine is code in it.
#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/socket_address.h"

namespace udp {

class Endpoint;
struct AddressLookupRequest;

// What a completion carries: the resolver's error (0 for none) and its addresses in its order.
struct AddressLookupResult {
  int error = 0;
  std::vector<SocketAddress> addresses;

  explicit AddressLookupResult(AddressLookupRequest* answered) : m_request(answered) {}
  AddressLookupResult(const AddressLookupResult&) = delete;
  AddressLookupResult& operator=(const AddressLookupResult&) = delete;
  // Lets go of the request it answers.
  ~AddressLookupResult();

 private:
  AddressLookupRequest* m_request;
};

// The first address of `name` the resolver gives at once (HostIp's look-up, which waits as
// gethostbyname does): IPv6 addresses only. Nothing, with the resolver's error, when it has none.
std::optional<SocketAddress> ResolveIpv6Now(const std::wstring& name, int* error);

class AddressLookup {
 public:
  AddressLookup() = default;
  AddressLookup(const AddressLookup&) = delete;
  AddressLookup& operator=(const AddressLookup&) = delete;
  ~AddressLookup() { HandOver(); }

  bool IsOutstanding() const { return m_task != nullptr; }

  // Starts looking up `name` for owner: IPv6 addresses, and IPv4 ones too when withIpv4. Nothing
  // may be outstanding (cancel it first). The Windows Sockets error when it did not start.
  std::optional<int> Start(Endpoint* owner, const std::wstring& name, bool withIpv4);
  // Cancels the outstanding request, if any; its completion, when it comes, goes to nobody.
  void Cancel() noexcept;
  // The result a completion carries, when it is this channel's outstanding request's; the
  // request is then answered.
  const AddressLookupResult* Claim(WPARAM task, LPARAM result);
  // The owner goes: the outstanding request runs to its end unheard.
  void HandOver() noexcept;

 private:
  AddressLookupRequest* m_task = nullptr;
};

}  // namespace udp
