#include "control/sender_texts.h"

#include <cwchar>
#include <new>

#include "control/winsock_api.h"
#include "framework/text.h"

namespace udp {

void SenderTexts::Update(const sockaddr_in& from) {
  if (known_ && from.sin_addr.s_addr == lastAddress_ && from.sin_port == lastPort_) return;
  known_ = false;
  auto& ws = Winsock();
  fw::unique_bstr address(fw::AllocBstr(fw::WideFromAnsi(ws.inet_ntoa(from.sin_addr))));
  wchar_t portText[8];
  std::swprintf(portText, 8, L"%d", static_cast<short>(ws.ntohs(from.sin_port)));
  fw::unique_bstr port(::SysAllocString(portText));
  if (!address || !port) throw std::bad_alloc();
  address_ = std::move(address);
  port_ = std::move(port);
  lastAddress_ = from.sin_addr.s_addr;
  lastPort_ = from.sin_port;
  known_ = true;
}

}  // namespace udp
