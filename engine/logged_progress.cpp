#include "engine/logged_progress.h"

void CLoggedProgress::setStatus(const std::wstring& text) {
  status_ = text;
  if (window_) window_->setStatus(text);
}

void CLoggedProgress::setStatusPath(const std::wstring& text) {
  status_ = text;
  if (window_) window_->setStatusPath(text);
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

void CLoggedProgress::logOutcome(bool completed, const std::wstring& completedText) {
  // A failure before any change is logged as it happens; it is not written a second time.
  if (!completed && !status_.empty() && status_ == lastLine_ && partLine_.empty()) {
    file_.outcomeIsWritten();
    return;
  }
  file_.writeOutcome(completed ? completedText : status_);
}
