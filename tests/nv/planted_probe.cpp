// A DLL that lies beside the test programs the way a planted DLL would lie beside the installer:
// the start-up probe reports whether loading it by name finds it.
#include <windows.h>

extern "C" __declspec(dllexport) int planted_probe() { return 1; }
