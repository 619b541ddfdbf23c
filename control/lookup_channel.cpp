#include "control/lookup_channel.h"

#include "control/lookup_relay.h"
#include "control/winsock_api.h"

namespace udp {

HANDLE LookupChannel::Start(CUdpCtrl* owner, const StartFn& start) {
  if (!buffer_) buffer_ = std::make_unique<char[]>(kLookupBufferSize);
  task_ = start(buffer_.get());
  if (task_)
    lookup_relay::Track(task_, owner);
  else
    lookup_relay::DestroyWhenIdle();
  return task_;
}

std::optional<int> LookupChannel::Cancel() noexcept {
  if (!task_) return std::nullopt;
  auto& ws = Winsock();
  std::optional<int> failure;
  if (ws.WSACancelAsyncRequest(task_) != 0) failure = ws.WSAGetLastError();
  // Whether the cancel took or not, the request may still write its buffer: the relay keeps it
  // for as long as that can be, and the channel gets a fresh one. A request whose (error)
  // completion has already been handled leaves its buffer to the channel.
  if (lookup_relay::IsPending(task_)) lookup_relay::Abandon(task_, std::move(buffer_));
  task_ = nullptr;
  return failure;
}

void LookupChannel::Retire() {
  if (!task_) return;
  if (lookup_relay::IsPending(task_)) retired_.push_back({task_, std::move(buffer_)});
  task_ = nullptr;
}

std::optional<LookupCompletion> LookupChannel::Claim(WPARAM task, LPARAM result) {
  const HANDLE handle = reinterpret_cast<HANDLE>(task);
  const int error = WSAGETASYNCERROR(result);
  if (task_ && handle == task_) return LookupCompletion(buffer_.get(), nullptr, error);
  for (auto it = retired_.begin(); it != retired_.end(); ++it) {
    if (it->task != handle) continue;
    LookupBuffer buffer = std::move(it->buffer);
    retired_.erase(it);
    const char* entry = buffer.get();
    return LookupCompletion(entry, std::move(buffer), error);
  }
  return std::nullopt;
}

void LookupChannel::HandOver() noexcept {
  auto handOver = [](HANDLE task, LookupBuffer& buffer) {
    if (lookup_relay::IsPending(task)) lookup_relay::Orphan(task, std::move(buffer));
  };
  handOver(task_, buffer_);
  task_ = nullptr;
  for (auto& retired : retired_) handOver(retired.task, retired.buffer);
  retired_.clear();
}

}  // namespace udp
