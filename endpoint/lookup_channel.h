// One channel of asynchronous database requests (host, service, local service, the Inet trio):
// the outstanding request's task handle together with the result buffer the sockets layer writes
// for it.
//
// Implementation details. A buffer belongs to the sockets layer from the start of its request
// until the request's completion is posted, or, after a cancel, for a while at most (see
// lookup_relay.h). So a buffer never goes back to the heap while a request may still write it:
//   - Cancel: the relay keeps the buffer; the channel takes a fresh one for its next request.
//   - Retire (a request superseded but not cancelled, whose result still applies): the channel
//     keeps the buffer among its retired requests until the completion comes.
//   - HandOver (the owner goes): the relay keeps every buffer still being written.
// A completion is the channel's when its task handle is the outstanding request's or a retired
// one's; any other (a cancelled request's that came anyway) is none of the owner's business.
#pragma once
#include <winsock.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace udp {

class Endpoint;

inline constexpr int kLookupBufferSize = MAXGETHOSTSTRUCT;  // 1024

// Result buffer of one asynchronous database request.
using LookupBuffer = std::unique_ptr<char[]>;

// What a completion hands its handler: the error the sockets layer reported (0 for none) and the
// entry it wrote.
class LookupCompletion {
 public:
  int error() const { return m_error; }
  const hostent* host() const { return reinterpret_cast<const hostent*>(m_entry); }
  const servent* service() const { return reinterpret_cast<const servent*>(m_entry); }

 private:
  friend class LookupChannel;
  LookupCompletion(const char* entry, LookupBuffer retired, int error)
      : m_entry(entry), m_retired(std::move(retired)), m_error(error) {}

  const char* m_entry;
  LookupBuffer m_retired;  // a retired request's buffer, now the completion's
  int m_error;
};

class LookupChannel {
 public:
  // Starts the sockets layer's request into a buffer of kLookupBufferSize; returns its task
  // handle, nullptr when it did not start.
  using StartFn = std::function<HANDLE(char* buffer)>;

  LookupChannel() = default;
  LookupChannel(const LookupChannel&) = delete;
  LookupChannel& operator=(const LookupChannel&) = delete;

  bool IsOutstanding() const { return m_task != nullptr; }

  // Starts a request for owner, whose completions the look-up relay forwards to it. Nothing may
  // be outstanding: cancel or retire it first.
  HANDLE Start(Endpoint* owner, const StartFn& start);
  // Cancels the outstanding request, if any; the error of a cancel that failed.
  std::optional<int> Cancel() noexcept;
  // The outstanding request is superseded but not cancelled: its completion still comes here.
  void Retire();
  // The completion of a task, when it is this channel's request (outstanding or retired).
  std::optional<LookupCompletion> Claim(WPARAM task, LPARAM result);
  // The outstanding request has been answered (a retired request's completion answers nothing).
  void Finish(const LookupCompletion& completion) {
    if (!completion.m_retired) m_task = nullptr;
  }
  // The owner goes: the buffers still being written go to the look-up relay.
  void HandOver() noexcept;

 private:
  struct Retired {
    HANDLE task;
    LookupBuffer buffer;
  };

  HANDLE m_task = nullptr;
  LookupBuffer m_buffer;
  std::vector<Retired> m_retired;
};

}  // namespace udp
