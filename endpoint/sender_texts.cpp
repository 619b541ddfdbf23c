#include "endpoint/sender_texts.h"

#include <cwchar>
#include <new>

#include "endpoint/winsock_api.h"
#include "framework/text.h"

namespace udp {

void SenderTexts::Update(const SocketAddress& from) {
  // Texts are there once a sender was known; until then nothing matches.
  if (m_address && from == m_last) return;
  auto& ws = Winsock();
  fw::unique_bstr address(fw::AllocBstr(fw::WideFromAnsi(from.AddressText())));
  wchar_t portText[8];
  std::swprintf(portText, 8, L"%d", static_cast<short>(ws.ntohs(from.PortNet())));
  fw::unique_bstr port(::SysAllocString(portText));
  if (!address || !port) throw std::bad_alloc();
  m_address = std::move(address);
  m_port = std::move(port);
  m_last = from;
}

}  // namespace udp
