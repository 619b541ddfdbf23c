#include "support/lookups.h"

#include <cstring>

namespace host {

namespace {

FakeLookups* g_fake = nullptr;
SendRecorder* g_recorder = nullptr;
UINT_PTR g_nextTask = 0x4000;

HANDLE Record(HWND window, u_int message, std::string name, char* buffer, int length) {
  if (g_fake->failNextStart && g_fake->startsBeforeFailure-- <= 0) {
    g_fake->startsBeforeFailure = 0;
    ::WSASetLastError(g_fake->failNextStart);
    g_fake->failNextStart = 0;
    return nullptr;
  }
  HANDLE task = reinterpret_cast<HANDLE>(++g_nextTask);
  g_fake->requests.push_back({window, message, std::move(name), buffer, length, task});
  return task;
}

HANDLE PASCAL FakeGetHostByName(HWND w, u_int m, const char* name, char* buffer, int length) {
  return Record(w, m, name, buffer, length);
}
HANDLE PASCAL FakeGetHostByAddr(HWND w, u_int m, const char* address, int, int, char* buffer,
                                int length) {
  in_addr a;
  std::memcpy(&a, address, sizeof a);
  return Record(w, m, ::inet_ntoa(a), buffer, length);
}
HANDLE PASCAL FakeGetServByName(HWND w, u_int m, const char* name, const char*, char* buffer,
                                int length) {
  return Record(w, m, name, buffer, length);
}
// Tasks whose completion was posted, and tasks whose cancel took (Windows mode).
std::vector<HANDLE> g_completed, g_cancelTook;

bool Contains(const std::vector<HANDLE>& tasks, HANDLE task) {
  for (HANDLE t : tasks)
    if (t == task) return true;
  return false;
}

int PASCAL FakeCancel(HANDLE task) {
  g_fake->cancelled.push_back(task);
  if (!g_fake->windowsCancel) return 0;
  if (Contains(g_completed, task)) {
    ::WSASetLastError(WSAEALREADY);
    return SOCKET_ERROR;
  }
  g_cancelTook.push_back(task);
  return 0;
}

// Whether the request may complete now; it counts as completed from then on.
bool MayComplete(HANDLE task) {
  if (Contains(g_cancelTook, task)) return false;
  g_completed.push_back(task);
  return true;
}

}  // namespace

FakeLookups::FakeLookups() : saved_(udp::Winsock()) {
  g_fake = this;
  g_completed.clear();
  g_cancelTook.clear();
  auto& ws = udp::Winsock();
  ws.WSAAsyncGetHostByName = FakeGetHostByName;
  ws.WSAAsyncGetHostByAddr = FakeGetHostByAddr;
  ws.WSAAsyncGetServByName = FakeGetServByName;
  ws.WSACancelAsyncRequest = FakeCancel;
}

FakeLookups::~FakeLookups() {
  auto& ws = udp::Winsock();
  ws.WSAAsyncGetHostByName = saved_.WSAAsyncGetHostByName;
  ws.WSAAsyncGetHostByAddr = saved_.WSAAsyncGetHostByAddr;
  ws.WSAAsyncGetServByName = saved_.WSAAsyncGetServByName;
  ws.WSACancelAsyncRequest = saved_.WSACancelAsyncRequest;
  g_fake = nullptr;
}

void FakeLookups::CompleteHost(size_t index, const char* officialName, const char* dotted) {
  const Request& r = requests.at(index);
  if (!MayComplete(r.task)) return;
  // A host entry whose pointers point into the buffer, as the sockets layer lays it out.
  char* p = r.buffer;
  auto* entry = reinterpret_cast<hostent*>(p);
  p += sizeof(hostent);
  auto** aliases = reinterpret_cast<char**>(p);
  p += sizeof(char*);
  auto** addresses = reinterpret_cast<char**>(p);
  p += 2 * sizeof(char*);
  auto* address = reinterpret_cast<in_addr*>(p);
  p += sizeof(in_addr);
  std::strcpy(p, officialName);
  address->s_addr = dotted ? ::inet_addr(dotted) : 0;
  aliases[0] = nullptr;
  addresses[0] = dotted ? reinterpret_cast<char*>(address) : nullptr;
  addresses[1] = nullptr;
  entry->h_name = p;
  entry->h_aliases = aliases;
  entry->h_addrtype = AF_INET;
  entry->h_length = 4;
  entry->h_addr_list = addresses;
  const int length = static_cast<int>(p + std::strlen(officialName) + 1 - r.buffer);
  ::PostMessageW(r.window, r.message, reinterpret_cast<WPARAM>(r.task),
                 WSAMAKEASYNCREPLY(length, 0));
}

void FakeLookups::CompleteService(size_t index, u_short port) {
  const Request& r = requests.at(index);
  if (!MayComplete(r.task)) return;
  char* p = r.buffer;
  auto* entry = reinterpret_cast<servent*>(p);
  p += sizeof(servent);
  auto** aliases = reinterpret_cast<char**>(p);
  p += sizeof(char*);
  aliases[0] = nullptr;
  std::strcpy(p, r.name.c_str());
  entry->s_name = p;
  p += r.name.size() + 1;
  std::strcpy(p, "udp");
  entry->s_proto = p;
  entry->s_aliases = aliases;
  entry->s_port = static_cast<short>(::htons(port));
  const int length = static_cast<int>(p + 4 - r.buffer);
  ::PostMessageW(r.window, r.message, reinterpret_cast<WPARAM>(r.task),
                 WSAMAKEASYNCREPLY(length, 0));
}

void FakeLookups::Fail(size_t index, int error) {
  const Request& r = requests.at(index);
  if (!MayComplete(r.task)) return;
  ::PostMessageW(r.window, r.message, reinterpret_cast<WPARAM>(r.task),
                 WSAMAKEASYNCREPLY(0, error));
}

SendRecorder::SendRecorder() {
  g_recorder = this;
  patch_->sendto = SendTo;
  patch_->setsockopt = SetOption;
}

SendRecorder::~SendRecorder() { g_recorder = nullptr; }

int PASCAL SendRecorder::SendTo(SOCKET s, const char* data, int length, int flags,
                                const sockaddr* to, int toLength) {
  const auto& address = *reinterpret_cast<const sockaddr_in*>(to);
  g_recorder->sent.push_back({::inet_ntoa(address.sin_addr), ::ntohs(address.sin_port), length});
  g_recorder->calls.push_back({true, address, std::vector<char>(data, data + length), 0});
  if (g_recorder->sendFailures > 0) {
    --g_recorder->sendFailures;
    ::WSASetLastError(g_recorder->sendError);
    return SOCKET_ERROR;
  }
  // Never let a datagram leave for anything but loopback (127.0.0.0/8).
  if ((::ntohl(address.sin_addr.s_addr) >> 24) != 127) return length;
  return g_recorder->patch_.original().sendto(s, data, length, flags, to, toLength);
}

int PASCAL SendRecorder::SetOption(SOCKET s, int level, int option, const char* value, int length) {
  if (level == SOL_SOCKET && option == SO_BROADCAST) {
    g_recorder->calls.push_back({false, {}, {}, *reinterpret_cast<const int*>(value)});
    if (g_recorder->setsockoptError) {
      ::WSASetLastError(g_recorder->setsockoptError);
      return SOCKET_ERROR;
    }
  }
  return g_recorder->patch_.original().setsockopt(s, level, option, value, length);
}

u_short ServicePort(const char* name) {
  WSADATA data;
  ::WSAStartup(0x0101, &data);
  const servent* entry = ::getservbyname(name, "udp");
  const u_short port = entry ? ::ntohs(static_cast<u_short>(entry->s_port)) : 0;
  ::WSACleanup();
  return port;
}

}  // namespace host
