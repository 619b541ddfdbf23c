#include "control/errors.h"

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

}  // namespace udp
