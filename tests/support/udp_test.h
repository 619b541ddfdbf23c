// The facts every test, benchmark and demo shares about the control as a host sees it: the
// identifiers of its automation surface and of its events, its status codes and messages, the
// loopback address scenarios use, and the wait for Ready. Written here once, from the outside:
// nothing in this header comes from the control's own headers.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

namespace host {

class Host;

// The events of _DUdpEvents.
inline constexpr DISPID kWsError = 1, kReceived = 2, kClosed = 3, kReady = 4, kSent = 5;

// The members of _DUdp (typelib_drift_test checks them against the type library).
namespace dispid {
inline constexpr DISPID kState = 1, kUserData1 = 2, kUserData2 = 3, kUserData3 = 4, kUserData4 = 5,
                        kUserData5 = 6, kUserFlag = 7, kLastError = 8, kBroadcast = 9,
                        kInetAddress = 10, kInetIp = 11, kInetName = 12, kCopyright = 13,
                        kSocket = 14, kWinsockVer = 15, kWinsockDesc = 16, kWinsockSysStat = 17,
                        kWinsockMaxSockets = 18, kWinsockMaxDatagram = 19, kVersion = 20,
                        kRcvbuf = 21, kSndbuf = 22, kSendable = 26, kLocalIp = 27, kLocalPort = 28,
                        kLocalAddress = 29, kLocalHost = 30, kOpen = 31, kClose = 32, kHtonl = 33,
                        kHtons = 34, kNtohl = 35, kNtohs = 36, kSendTo = 37, kHostIp = 40,
                        kAnyData = 41, kAboutBox = DISPID_ABOUTBOX;
// Multicast and port sharing, on the control and on UdpSocket.
inline constexpr DISPID kJoinGroup = 120, kLeaveGroup = 121, kMulticastTtl = 122,
                        kMulticastLoopback = 123, kMulticastInterface = 124, kReuseAddress = 125;
}  // namespace dispid

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
