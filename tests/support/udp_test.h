// The facts every test, benchmark and demo shares about the control as a host sees it: the
// identifiers of its events, its status codes and messages, the loopback address scenarios use,
// and the wait for Ready. Written here once, from the outside: nothing in this header comes from
// the control's own headers but the identifiers the type library is built from.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "typelib/udp_dispids.h"

namespace host {

class Host;

// The events of _DUdpEvents; every member's DISPID is UDP_DISPID(Name) (typelib/udp_dispids.h,
// expanded from the list the type library is built from too).
inline constexpr DISPID kWsError = UDP_DISPID(WsError), kReceived = UDP_DISPID(Received),
                        kClosed = UDP_DISPID(Closed), kReady = UDP_DISPID(Ready),
                        kSent = UDP_DISPID(Sent);

// The control's status codes as a host sees them in EXCEPINFO, and their messages.
inline constexpr SCODE kScodeNotWritable = static_cast<SCODE>(0x800A74CD);
inline constexpr SCODE kScodeNotOpen = static_cast<SCODE>(0x800A74CE);
inline constexpr SCODE kScodeAlreadyOpen = static_cast<SCODE>(0x800A74D3);
inline constexpr SCODE kScodeOutOfMemory = static_cast<SCODE>(0x800A74D4);
inline constexpr SCODE kScodeBadArgument = static_cast<SCODE>(0x800A74D5);
// A put on a read-only property (the standard control error, with no description).
inline constexpr SCODE kScodeSetNotSupported = static_cast<SCODE>(0x800A017F);
// A Windows Sockets failure inside a call.
constexpr SCODE WinsockScode(int wsaError) { return static_cast<SCODE>(0x800A0000u + wsaError); }

inline const std::wstring kNotWritableMessage = L"書き込み不可能な状態です。";
inline const std::wstring kNotOpenMessage = L"OPENしていません。";
inline const std::wstring kWinsockMessage = L"Winsockでエラーが発生しました。";
inline const std::wstring kAlreadyOpenMessage = L"すでにOPENしています。";
inline const std::wstring kOutOfMemoryMessage = L"メモリー不足です。";
inline const std::wstring kBadArgumentMessage = L"引数の値が不正です。";

// Where scenarios send: this machine only.
inline constexpr char kLoopback[] = "127.0.0.1";
inline constexpr wchar_t kLoopbackText[] = L"127.0.0.1";
inline constexpr LONG kLoopbackHostOrder = 0x7F000001;

// How long a scenario waits for what must come.
inline constexpr int kEventTimeoutMs = 5000;

// Pumps until the control has raised Ready `count` times in all; false at the deadline.
bool WaitForReady(Host& h, int count = 1, int timeoutMs = kEventTimeoutMs);

}  // namespace host
