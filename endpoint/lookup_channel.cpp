#include "endpoint/lookup_channel.h"

#include "endpoint/lookup_relay.h"
#include "endpoint/winsock_api.h"

namespace udp {

HANDLE LookupChannel::Start(Endpoint* owner, const StartFn& start) {
  if (!m_buffer) m_buffer = std::make_unique<char[]>(kLookupBufferSize);
  m_task = start(m_buffer.get());
  if (m_task)
    lookup_relay::Track(m_task, owner);
  else
    lookup_relay::DestroyWhenIdle();
  return m_task;
}

std::optional<int> LookupChannel::Cancel() noexcept {
  if (!m_task) return std::nullopt;
  auto& ws = Winsock();
  std::optional<int> failure;
  if (ws.WSACancelAsyncRequest(m_task) != 0) failure = ws.WSAGetLastError();
  // Whether the cancel took or not, the request may still write its buffer: the relay keeps it
  // for as long as that can be, and the channel gets a fresh one. A request whose (error)
  // completion has already been handled leaves its buffer to the channel.
  if (lookup_relay::IsPending(m_task)) lookup_relay::Abandon(m_task, std::move(m_buffer));
  m_task = nullptr;
  return failure;
}

void LookupChannel::Retire() {
  if (!m_task) return;
  if (lookup_relay::IsPending(m_task)) m_retired.push_back({m_task, std::move(m_buffer)});
  m_task = nullptr;
}

std::optional<LookupCompletion> LookupChannel::Claim(WPARAM task, LPARAM result) {
  const HANDLE handle = reinterpret_cast<HANDLE>(task);
  const int error = WSAGETASYNCERROR(result);
  if (m_task && handle == m_task) return LookupCompletion(m_buffer.get(), nullptr, error);
  for (auto it = m_retired.begin(); it != m_retired.end(); ++it) {
    if (it->task != handle) continue;
    LookupBuffer buffer = std::move(it->buffer);
    m_retired.erase(it);
    const char* entry = buffer.get();
    return LookupCompletion(entry, std::move(buffer), error);
  }
  return std::nullopt;
}

void LookupChannel::HandOver() noexcept {
  auto handOver = [](HANDLE task, LookupBuffer& buffer) {
    if (lookup_relay::IsPending(task)) lookup_relay::Orphan(task, std::move(buffer));
  };
  handOver(m_task, m_buffer);
  m_task = nullptr;
  for (auto& retired : m_retired) handOver(retired.task, retired.buffer);
  m_retired.clear();
}

}  // namespace udp
