// Endpoint texts: numbers are converted at once, names start an asynchronous look-up.
#include <cstdio>
#include <cstdlib>

#include "control/udp_ctrl.h"
#include "framework/text.h"

namespace udp {

HANDLE CUdpCtrl::StartLookup(HANDLE& task, LookupBuffer& buffer, bool cancelOutstanding,
                             const std::function<HANDLE(char*)>& start) {
  if (task) {
    if (cancelOutstanding) CancelAsyncRequest(task);
    // The old request may still write its buffer: keep it until its completion comes in.
    m_retiredLookups.push_back({task, std::move(buffer)});
    task = nullptr;
  }
  if (!buffer) buffer = std::make_unique<char[]>(kLookupBufferSize);
  task = start(buffer.get());
  return task;
}

void CUdpCtrl::CancelLookup(HANDLE& task, LookupBuffer& buffer) {
  if (!task) return;
  CancelAsyncRequest(task);
  m_retiredLookups.push_back({task, std::move(buffer)});
  task = nullptr;
}

INT_PTR CUdpCtrl::AsyncGetHostByName(HWND window, const std::string& host) {
  auto& ws = Winsock();
  const unsigned long address = ws.inet_addr(host.c_str());
  if (address != INADDR_NONE) {
    m_sockAddr.sin_addr.s_addr = address;
    return 0;
  }
  HANDLE task = StartLookup(m_hGetHost, m_hostEntBuf, true, [&](char* buffer) {
    return ws.WSAAsyncGetHostByName(window, kMsgGetHost, host.c_str(), buffer, kLookupBufferSize);
  });
  return task ? reinterpret_cast<INT_PTR>(task) : -1;
}

INT_PTR CUdpCtrl::AsyncGetServByName(HWND window, const std::string& port) {
  auto& ws = Winsock();
  m_sockAddr.sin_port = ws.htons(static_cast<u_short>(std::atoi(port.c_str())));
  if (m_sockAddr.sin_port != 0) return 0;
  HANDLE task = StartLookup(m_hGetServ, m_servEntBuf, true, [&](char* buffer) {
    return ws.WSAAsyncGetServByName(window, kMsgGetServ, port.c_str(), "udp", buffer,
                                    kLookupBufferSize);
  });
  return task ? reinterpret_cast<INT_PTR>(task) : -1;
}

INT_PTR CUdpCtrl::AsyncGetLocalServByName(HWND window, const std::string& port) {
  auto& ws = Winsock();
  int number = 0;
  if (std::sscanf(port.c_str(), "%d", &number) == 1) {
    m_localPortNet = ws.htons(static_cast<u_short>(number));
    return 0;
  }
  HANDLE task = StartLookup(m_hGetLocalServ, m_localServEntBuf, true, [&](char* buffer) {
    return ws.WSAAsyncGetServByName(window, kMsgGetLocalServ, port.c_str(), "udp", buffer,
                                    kLookupBufferSize);
  });
  return task ? reinterpret_cast<INT_PTR>(task) : -1;
}

void CUdpCtrl::SetLocalSockAddr(const std::wstring& address, u_short portNet) {
  m_bindAddr.sin_family = AF_INET;
  m_bindAddr.sin_port = portNet;
  m_localPort = static_cast<short>(portNet);
  if (!address.empty() && address != L"255.255.255.255" && address != L"-1") {
    const unsigned long a = Winsock().inet_addr(fw::AnsiFromWide(address).c_str());
    m_bindAddr.sin_addr.s_addr = a;
    m_localIp = static_cast<LONG>(a);
    m_localAddress = address;
  } else {
    m_bindAddr.sin_addr.s_addr = INADDR_ANY;
    m_localIp = 0;
    m_localAddress = L"255.255.255.255";
  }
}

}  // namespace udp
