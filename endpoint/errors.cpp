#include "endpoint/errors.h"

#include <iterator>

#include "framework/automation_error.h"

namespace udp {

const wchar_t* ErrorMessage(int code) {
  switch (code) {
    case kErrNotWritable:
      return L"書き込み不可能な状態です。";
    case kErrNotOpen:
      return L"OPENしていません。";
    case kErrBadProperty:
      return L"プロパティの値が不正です。";
    case kErrCannotRead:
      return L"このプロパティは読み出せません。";
    case kErrRecv:
      return L"読み出し(recv)エラーです。";
    case kErrAlreadyOpen:
      return L"すでにOPENしています。";
    case kErrOutOfMemory:
      return L"メモリー不足です。";
    case kErrBadArgument:
      return L"引数の値が不正です。";
    case kErrWinsockVersion:
      return L"Winsockのバージョンが違いますす。";
    case kErrWinsock:
    default:
      return L"Winsockでエラーが発生しました。";
  }
}

void ThrowUdpError(int code) { fw::ThrowError(AutomationStatus(code), ErrorMessage(code)); }

void ThrowWinsockError(int wsaError) {
  fw::ThrowError(AutomationStatus(wsaError), ErrorMessage(kErrWinsock));
}

// Not 0x800A0000 plus the number: small system numbers there read as Visual Basic's own run-time
// errors (7, out of memory), and the host could not tell them from the control's codes.
void ThrowSystemError(DWORD error) {
  wchar_t text[512] = {};
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, std::size(text), nullptr);
  // The system ends its messages with a line break, which a host's message box need not show.
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n')) --length;
  fw::ThrowError(HRESULT_FROM_WIN32(error), std::wstring_view(text, length));
}

}  // namespace udp
