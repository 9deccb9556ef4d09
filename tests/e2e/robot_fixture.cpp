// A small dialog for the robot's own tests: a counting button, a button that asks through a
// message box, a disabled button, a combo box whose selection is echoed, radio buttons, a check
// box, an edit box, a group box, a three-line static (151), a static as wide as the check box
// (152) and one that reaches beyond the dialog's right edge (153). Static 110 shows what happened
// last.
#include <windows.h>

#include <string>

namespace {

int clicks = 0;

INT_PTR CALLBACK fixture_procedure(HWND dialog, UINT message, WPARAM w, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND combo = ::GetDlgItem(dialog, 120);
      for (const wchar_t* item : {L"Alpha", L"Beta", L"Gamma"})
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
      ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
      ::CheckRadioButton(dialog, 130, 131, 130);
      // The title carries a non-ASCII character, as the installer's does (an en dash).
      ::SetWindowTextW(dialog, L"Robot Fixture \x2013 Dialog");
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case 101:
          ::SetDlgItemTextW(dialog, 110, (L"clicked " + std::to_wstring(++clicks)).c_str());
          return TRUE;
        case 102: {
          const int answer = ::MessageBoxW(dialog, L"Really proceed?\r\nSecond line.",
                                           L"Robot Fixture \x2013 Dialog", MB_YESNO | MB_ICONQUESTION);
          ::SetDlgItemTextW(dialog, 110, answer == IDYES ? L"answered yes" : L"answered no");
          return TRUE;
        }
        case 120:
          if (HIWORD(w) == CBN_SELCHANGE) {
            const auto index = ::SendDlgItemMessageW(dialog, 120, CB_GETCURSEL, 0, 0);
            ::SetDlgItemTextW(dialog, 110, (L"selected " + std::to_wstring(index)).c_str());
          }
          return TRUE;
        case IDCANCEL:
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  return static_cast<int>(::DialogBoxParamW(instance, MAKEINTRESOURCEW(200), nullptr,
                                            fixture_procedure, 0));
}
