#pragma once

#include <cstdint>
#include <string>

#include "common/Operator.h"

namespace orvana::cli {

// The operator at a terminal: messages go to stderr, questions are answered by --yes or on
// stdin, progress is a bar on stderr that also shows the status text (speed, remaining time).
// Once a stop signal has come, every question is answered No and the event pump cancels the
// running operation it watches, as a confirmed Cancel does.
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
  void processEvents() override;
  void requestTerminate() override { terminateRequested_ = true; }

  // The running flag of the operation a stop signal cancels (the store's Running); null for none.
  void watch(bool* running) { running_ = running; }

  bool terminateRequested() const { return terminateRequested_; }
  // Last messages shown, so a command can report what failed.
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  void drawBar(bool force);
  void endBar();
  // One line from the terminal; false at its end or when a stop signal comes meanwhile.
  bool readLine(std::string& line);

  bool assumeYes_;
  bool terminateRequested_ = false;
  bool* running_ = nullptr;
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
