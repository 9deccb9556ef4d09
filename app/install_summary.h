// The summary of the options an installation runs with: what the Progress page shows before the
// installation starts and what the /LOG file records first.
#pragma once

#include <string>
#include <vector>

class CInstallApp;

// One line of the summary of the chosen options.
struct SummaryLine {
  std::wstring text;
  bool banner = false;  // a line of dashes enclosing the text
};

// The summary of the options `app` will install with: the product line, the "Installation
// Options" banner, the folder, and the Start-menu and desktop shortcuts when chosen. Texts of
// plain lines end in CR LF.
std::vector<SummaryLine> installSummary(const CInstallApp& app);
