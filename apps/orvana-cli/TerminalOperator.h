#pragma once

#include <cstdint>
#include <string>

#include "common/Operator.h"

namespace orvana::cli {

// The operator at a terminal: messages go to stderr, questions are answered by --yes or on
// stdin, progress is a bar on stderr that also shows the status text (speed, remaining time).
class TerminalOperator : public Operator {
 public:
  explicit TerminalOperator(bool assumeYes);

  void message(const std::string& text) override;
  bool confirm(const std::string& text) override;
  bool prompt(const std::string& text, std::string& value) override;
  int choose(const std::string& text, const std::vector<std::string>& options) override;
  void setStatus(int panel, const std::string& text) override;
  void setProgressMax(int maximum) override;
  void setProgress(int position) override;
  void setTitle(const std::string& text) override;
  void setCursor(Cursor) override {}
  void setControlsEnabled(bool enabled) override;
  void processEvents() override {}
  void requestTerminate() override { terminateRequested_ = true; }

  bool terminateRequested() const { return terminateRequested_; }
  // Last messages shown, so a command can report what failed.
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  void drawBar(bool force);
  void endBar();

  bool assumeYes_;
  bool terminateRequested_ = false;
  bool barShown_ = false;
  int max_ = 0;
  int pos_ = 0;
  std::string status_;
  std::string title_;
  std::string lastMessage_;
  std::uint32_t lastDraw_ = 0;
  bool tty_ = false;
  int lastLoggedTenth_ = -1;
};

}  // namespace orvana::cli
