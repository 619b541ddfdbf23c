// The control's own error codes and their messages, kept as wide text so that they reach the host
// unchanged whatever the system's code page.
#pragma once
#include <windows.h>

namespace udp {

enum ErrorCode : int {
  kErrNotWritable = 29901,
  kErrNotOpen = 29902,
  kErrWinsock = 29903,
  kErrBadProperty = 29904,
  kErrCannotRead = 29905,
  kErrRecv = 29906,
  kErrAlreadyOpen = 29907,
  kErrOutOfMemory = 29908,
  kErrBadArgument = 29909,
  kErrWinsockVersion = 29910,
};

// The message of one of the codes above; the Windows Sockets message for anything else.
const wchar_t* ErrorMessage(int code);

constexpr SCODE AutomationStatus(int code) { return static_cast<SCODE>(0x800A0000u + code); }

// Fails the current automation call with one of the control's codes.
[[noreturn]] void ThrowUdpError(int code);
// Fails it with a Windows Sockets error number and the Windows Sockets message.
[[noreturn]] void ThrowWinsockError(int wsaError);
// Fails it with a system error number that is not a Windows Sockets one (the IP helper's): status
// HRESULT_FROM_WIN32(error), the system's message for the number.
[[noreturn]] void ThrowSystemError(DWORD error);

}  // namespace udp
