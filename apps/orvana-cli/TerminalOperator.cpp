#include "TerminalOperator.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "StopSignals.h"
#include "common/Tick.h"

namespace orvana::cli {

TerminalOperator::TerminalOperator(bool assumeYes)
    : assumeYes_(assumeYes), tty_(::isatty(STDERR_FILENO) != 0) {}

void TerminalOperator::message(const std::string& text) {
  endBar();
  lastMessage_ = text;
  std::cerr << text << std::endl;
}

bool TerminalOperator::readLine(std::string& line) {
  // A blocking read would outlast Ctrl-C (it is restarted after the handler), so the terminal is
  // watched in short waits that look at the flag in between.
  while (std::cin.rdbuf()->in_avail() <= 0) {
    if (StopRequested()) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) break;
  }
  return !StopRequested() && static_cast<bool>(std::getline(std::cin, line));
}

void TerminalOperator::processEvents() {
  if (running_ != nullptr && StopRequested()) *running_ = false;
}

bool TerminalOperator::confirm(const std::string& text) {
  endBar();
  if (StopRequested()) {
    std::cerr << text << " [no: stopping]" << std::endl;
    return false;
  }
  if (assumeYes_) {
    std::cerr << text << " [yes]" << std::endl;
    return true;
  }
  if (!::isatty(STDIN_FILENO)) {
    std::cerr << text << " [no: not a terminal; use --yes]" << std::endl;
    return false;
  }
  std::cerr << text << " [y/N] " << std::flush;
  std::string answer;
  if (!readLine(answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

bool TerminalOperator::prompt(const std::string& text, std::string& value) {
  endBar();
  if (StopRequested()) return false;
  if (!::isatty(STDIN_FILENO)) {
    std::cerr << text << " [" << value << "]" << std::endl;
    return true;  // unattended: keep the prefill
  }
  std::cerr << text << " [" << value << "] " << std::flush;
  std::string answer;
  if (!readLine(answer)) return false;
  if (!answer.empty()) value = answer;
  return true;
}

int TerminalOperator::choose(const std::string& text, const std::vector<std::string>& options) {
  endBar();
  std::cerr << text << std::endl;
  if (StopRequested() || !::isatty(STDIN_FILENO)) return -1;
  for (std::size_t i = 0; i < options.size(); ++i)
    std::cerr << "  " << (i + 1) << ") " << options[i] << std::endl;
  std::string answer;
  if (!readLine(answer)) return -1;
  try {
    int k = std::stoi(answer);
    if (k >= 1 && k <= static_cast<int>(options.size())) return k - 1;
  } catch (...) {
  }
  return -1;
}

void TerminalOperator::setStatus(int panel, const std::string& text) {
  if (panel != 0) return;
  status_ = text;
  drawBar(false);
}

void TerminalOperator::setProgressMax(int maximum) {
  max_ = maximum;
  pos_ = 0;
  lastLoggedTenth_ = -1;
  drawBar(true);
}

void TerminalOperator::setProgress(int position) {
  pos_ = position;
  drawBar(position >= max_);
}

void TerminalOperator::setTitle(const std::string& text) {
  title_ = text;
}

void TerminalOperator::setControlsEnabled(bool enabled) {
  if (enabled) endBar();
}

void TerminalOperator::drawBar(bool force) {
  if (max_ <= 0) return;
  std::uint32_t now = tickCount();
  if (!force && barShown_ && now - lastDraw_ < 100) return;
  lastDraw_ = now;
  int pct = static_cast<int>(100LL * pos_ / max_);
  if (pct > 100) pct = 100;
  if (!tty_) {
    // A log, not a screen: one line per tenth of the way.
    if (pct / 10 == lastLoggedTenth_) return;
    lastLoggedTenth_ = pct / 10;
    std::fprintf(stderr, "%3d%%  %s\n", pct, status_.c_str());
    return;
  }
  constexpr int kWidth = 30;
  std::string bar(static_cast<std::size_t>(kWidth * pct / 100), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r[%s] %3d%%  %s\x1b[K", bar.c_str(), pct, status_.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void TerminalOperator::endBar() {
  if (!barShown_) return;
  std::fputc('\n', stderr);
  barShown_ = false;
}

}  // namespace orvana::cli
