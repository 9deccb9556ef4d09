// Stand-in for the product's uninstaller: it only exists to be installed, named by the uninstall
// key and started by a shortcut. It changes nothing and ends with exit code 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
