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
}

HWND CLoggedProgress::ownerWindow() const { return window_ ? window_->ownerWindow() : nullptr; }

void CLoggedProgress::startProgress() {
  if (window_) window_->startProgress();
}

void CLoggedProgress::setProgress(std::uint64_t done, std::uint64_t total) {
  if (window_) window_->setProgress(done, total);
}

void CLoggedProgress::logOutcome(bool completed, const std::wstring& completedText) {
  file_.writeOutcome(completed ? completedText : status_);
}
