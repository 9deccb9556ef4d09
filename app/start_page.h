// The Start page: says what the installer is about to do (fresh installation, update,
// reinstallation or refusal because a newer version is installed) and offers the product
// languages in a list with flags; picking a language switches the whole wizard at once. The flags
// are the ones drawn for the page's display scale.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "localization/languages.h"
#include "app/wizard_page.h"
#include "app/image_owners.h"

class CDlgStart : public CWizardPage {
 public:
  // From template IDD_START_PAGE of `module` (null: the executable).
  explicit CDlgStart(HINSTANCE module = nullptr);

  void refreshTexts() override;
  void fitPage(int dx, int dy) override;
  void rescale(UINT dpi) override;

  // Makes `language` the product's language and, when the installer speaks it, the current
  // language (otherwise tells the user in English and stays in English); then refreshes the
  // texts of the whole application window.
  void chooseLanguage(LanguageId language);

  // The product languages in the order of the list.
  static const std::vector<LanguageId>& listedLanguages();

  ui::window_ref languageCombo;
  app_images::unique_image_list flagImages;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(ui::data_exchange& dx) override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void fillLanguageList();
  // Gives the list the flags drawn for `dpi`, one per listed language in list order; the image
  // index of each (-1 for a flag that cannot be loaded).
  std::vector<int> loadFlags(UINT dpi);
  void sizeDropDown(UINT dpi);
};
