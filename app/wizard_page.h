// What the wizard frame requires of each of its pages besides the dialog itself: texts set in
// the current language, the page's controls adapted when the frame makes the page larger, and
// its pictures redrawn when the frame moves to a monitor of another scale.
#pragma once

#include "ui/dialog.h"

class CWizardPage : public ui::dialog {
 public:
  using ui::dialog::dialog;

  // Sets every text of the page in the current language.
  virtual void refreshTexts() = 0;
  // The page became `dx` wider and `dy` taller: widens, lengthens or moves its controls.
  virtual void fitPage(int dx, int dy) = 0;
  // The page now shows at `dpi`: the system has rescaled its font and controls; the page swaps in
  // the pictures drawn for that scale and scales its own pixel figures. Default: nothing to do.
  virtual void rescale(UINT /*dpi*/) {}
};
