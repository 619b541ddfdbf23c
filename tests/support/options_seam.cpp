#include "support/options_seam.h"

#include <algorithm>

namespace host {

namespace {
SockoptSpy* g_spy = nullptr;
udp::WinsockApi g_passOn;

bool IsBufferSize(int level, int option) {
  return level == SOL_SOCKET && (option == SO_SNDBUF || option == SO_RCVBUF);
}
}  // namespace

SockoptSpy::SockoptSpy() {
  g_spy = this;
  g_passOn = patch_.original();
  patch_.api().setsockopt = &SockoptSpy::SetOption;
  patch_.api().getsockopt = &SockoptSpy::GetOption;
  patch_.api().bind = &SockoptSpy::Bind;
}

SockoptSpy::~SockoptSpy() { g_spy = nullptr; }

int SockoptSpy::SetsOf(int option) const {
  return static_cast<int>(std::count_if(sets_.begin(), sets_.end(), [&](const SockoptCall& c) {
    return c.level == SOL_SOCKET && c.option == option;
  }));
}

int SockoptSpy::ReadsOf(int option) const {
  return static_cast<int>(std::count(reads_.begin(), reads_.end(), option));
}

int PASCAL SockoptSpy::SetOption(SOCKET s, int level, int option, const char* value, int length) {
  int v = -1;
  if (value && length == 4) std::copy_n(value, 4, reinterpret_cast<char*>(&v));
  g_spy->sets_.push_back({level, option, v});
  if (g_spy->refuseWrites_ && IsBufferSize(level, option)) {
    ::WSASetLastError(g_spy->refuseWrites_);
    return SOCKET_ERROR;
  }
  return g_passOn.setsockopt(s, level, option, value, length);
}

int PASCAL SockoptSpy::GetOption(SOCKET s, int level, int option, char* value, int* length) {
  if (level == SOL_SOCKET) g_spy->reads_.push_back(option);
  if (g_spy->refuseReads_ && IsBufferSize(level, option)) {
    ::WSASetLastError(g_spy->refuseReads_);
    return SOCKET_ERROR;
  }
  return g_passOn.getsockopt(s, level, option, value, length);
}

int PASCAL SockoptSpy::Bind(SOCKET s, const sockaddr* address, int length) {
  if (g_spy->setsBeforeBind_ < 0) g_spy->setsBeforeBind_ = static_cast<int>(g_spy->sets_.size());
  return g_passOn.bind(s, address, length);
}

int SystemSocketOption(SOCKET s, int option) {
  int value = 0;
  int length = sizeof value;
  if (::getsockopt(s, SOL_SOCKET, option, reinterpret_cast<char*>(&value), &length) != 0) return -1;
  return value;
}

int DefaultSocketOption(int option) {
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  const int value = SystemSocketOption(s, option);
  ::closesocket(s);
  ::WSACleanup();
  return value;
}

}  // namespace host
