// The "Where" argument of WsError: the place each failure outside a call is reported from, one
// text per raising site. Hosts match these texts, so they never change.
#pragma once

namespace udp::where {

// Start-up and clean-up (lifecycle.cpp).
inline constexpr wchar_t kStartup[] = L"WSAStartup()";
inline constexpr wchar_t kHostName[] = L"gethostname()";
inline constexpr wchar_t kCleanup[] = L"WSACleanup() in ~CUdpCtrl()";

// A notification that carries an error (notify.cpp).
inline constexpr wchar_t kReadEvent[] = L"FD_READ";
inline constexpr wchar_t kWriteEvent[] = L"FD_WRITE";
inline constexpr wchar_t kOtherEvent[] = L"OnSocketEvent2()";

// Receiving (receive.cpp): the read, and the buffer or the copy it needs.
inline constexpr wchar_t kReceive[] = L"udp_recv() in HandleRead()";
inline constexpr wchar_t kReadMemory[] = L"HandleRead()";

// Sending (send.cpp, lookups.cpp): the broadcast option, the send, the post that schedules it.
inline constexpr wchar_t kBroadcastOption[] = L"setsocket()";
inline constexpr wchar_t kSend[] = L"udp_send() in HandleWrite()";
inline constexpr wchar_t kPostWrite[] = L"PostMessage()";

// Look-up completions and starts (lookups.cpp).
inline constexpr wchar_t kGetHost[] = L"OnAsyncGetHostByName()";
inline constexpr wchar_t kGetServ[] = L"OnAsyncGetServByName()";
inline constexpr wchar_t kGetLocalServ[] = L"OnAsyncGetLocalServByName()";
inline constexpr wchar_t kInetLookup[] = L"OnInetAddressChanged";
// A host name's look-up on an IPv6 socket (lookups.cpp).
inline constexpr wchar_t kGetAddrInfo[] = L"OnGetAddrInfoEx()";

}  // namespace udp::where
