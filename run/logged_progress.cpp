#include "run/logged_progress.h"

void CLoggedProgress::setStatus(const std::wstring& text) {
  status_ = text;
  if (window_) window_->setStatus(text);
}

void CLoggedProgress::setStatusPath(const std::wstring& text) {
  status_ = text;
  if (window_) window_->setStatusPath(text);
}

void CLoggedProgress::setFailure(const LocalText& text) {
  failure_ = text;
  setStatus(text());
}

void CLoggedProgress::appendOutcome(const LocalText& text) {
  status_ = text();
  if (window_) {
    window_->setStatus(status_);
    window_->appendLog(status_ + L"\r\n");
  }
  file_.writeOutcome(inEnglish(text));
  partLine_.clear();
  lastLine_.clear();
}

void CLoggedProgress::appendLog(const std::wstring& text, bool banner) {
  file_.append(text, banner);
  if (window_) window_->appendLog(text, banner);
  if (banner || text.empty()) {
    partLine_.clear();
    lastLine_.clear();
    return;
  }
  partLine_ += text;
  for (std::size_t end; (end = partLine_.find(L"\r\n")) != std::wstring::npos;) {
    lastLine_ = partLine_.substr(0, end);
    partLine_.erase(0, end + 2);
  }
}

HWND CLoggedProgress::ownerWindow() const { return window_ ? window_->ownerWindow() : nullptr; }

void CLoggedProgress::startProgress() {
  if (window_) window_->startProgress();
}

void CLoggedProgress::setProgress(std::uint64_t done, std::uint64_t total) {
  if (window_) window_->setProgress(done, total);
}

void CLoggedProgress::logOutcome(bool completed, const LocalText& completedText) {
  const std::wstring outcome = completed ? inEnglish(completedText)
                               : failure_ ? inEnglish(failure_)
                                          : status_;
  // A failure before any change is logged as it happens; in an English run it is that line.
  if (!completed && !outcome.empty() && outcome == lastLine_ && partLine_.empty()) {
    file_.outcomeIsWritten();
    return;
  }
  file_.writeOutcome(outcome);
}
