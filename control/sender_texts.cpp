#include "control/sender_texts.h"

#include <cwchar>
#include <new>

#include "control/winsock_api.h"
#include "framework/text.h"

namespace udp {

void SenderTexts::Update(const sockaddr_in& from) {
  if (m_known && from.sin_addr.s_addr == m_lastAddress && from.sin_port == m_lastPort) return;
  m_known = false;
  auto& ws = Winsock();
  fw::unique_bstr address(fw::AllocBstr(fw::WideFromAnsi(ws.inet_ntoa(from.sin_addr))));
  wchar_t portText[8];
  std::swprintf(portText, 8, L"%d", static_cast<short>(ws.ntohs(from.sin_port)));
  fw::unique_bstr port(::SysAllocString(portText));
  if (!address || !port) throw std::bad_alloc();
  m_address = std::move(address);
  m_port = std::move(port);
  m_lastAddress = from.sin_addr.s_addr;
  m_lastPort = from.sin_port;
  m_known = true;
}

}  // namespace udp
