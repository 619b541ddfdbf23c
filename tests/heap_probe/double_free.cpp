// Frees one BSTR twice. Under Wine's heap checker (warn+heap, no BSTR cache) this must print a
// ":heap:" line: the test of this program proves that the suite's heap check can fail.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

int main() {
  BSTR text = ::SysAllocString(L"freed twice");
  ::SysFreeString(text);
  ::SysFreeString(text);
  std::puts("freed");
  return 0;
}
