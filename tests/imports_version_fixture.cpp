// A program that imports version.dll the ordinary way, for the test that the import check of the
// shipped programs names such a DLL.
#include <windows.h>

int main() {
  DWORD handle = 0;
  return GetFileVersionInfoSizeW(L"kernel32.dll", &handle) > 0 ? 0 : 1;
}
