#pragma once

#include <QString>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "common/Operator.h"

class QWidget;

namespace orvana {

// What the window does with what the core reports; the main window implements it.
class OperatorSurface {
 public:
  virtual ~OperatorSurface() = default;
  virtual QWidget* dialogParent() = 0;
  virtual void showStatus(int panel, const QString& text) = 0;
  virtual void showProgressMax(int maximum) = 0;
  virtual void showProgress(int position) = 0;
  virtual void showControlsEnabled(bool enabled) = 0;
  // Brings the window in line with the state the core changed since the last call.
  virtual void syncWithCore() = 0;
  virtual void terminateSoon() = 0;
};

// The core's operator as the window shows it: questions in real dialogs, status and progress in
// the window, and pending events pumped between pages so the window stays painted and Cancel
// can act. A test hands in `answers` to script the dialogs; once the window is closing nothing
// blocks on a person any more (messages go to stderr, questions answer No).
class WindowOperator : public Operator {
 public:
  explicit WindowOperator(OperatorSurface& surface, Operator* answers = nullptr);
  ~WindowOperator() override;

  void message(const std::string& text) override;
  bool confirm(const std::string& text) override;
  bool prompt(const std::string& text, std::string& value) override;
  int choose(const std::string& text, const std::vector<std::string>& options) override;
  void setStatus(int panel, const std::string& text) override;
  void setProgressMax(int maximum) override;
  void setProgress(int position) override;
  void setTitle(const std::string& text) override;
  void setCursor(Cursor cursor) override;
  void setControlsEnabled(bool enabled) override;
  void processEvents() override;
  void requestTerminate() override;

  // The file the operator picks in the open dialog; empty when cancelled. Scripted through
  // `fileAnswers` in tests.
  QString askOpenFile(const QString& folder);
  // The file the operator names in a save dialog (with `suffix` added when none is typed, and
  // a question before an existing file is replaced); empty when cancelled. Scripted through
  // `fileAnswers` too.
  QString askSaveFile(const QString& filter, const QString& suffix);
  std::deque<std::string> fileAnswers;

  // From here on no dialog is shown and questions answer No; an open dialog is closed.
  void beginClosing();
  bool closing() const { return closing_; }
  // Time between two pumps of the event queue during long operations.
  std::chrono::microseconds pumpInterval{4000};

 private:
  OperatorSurface& surface_;
  Operator* answers_;
  bool closing_ = false;
  bool waitCursor_ = false;
  std::chrono::steady_clock::time_point lastPump_{};
};

// "Orvana - " and the address the link is built for (its port when it is not the usual one).
QString MainWindowCaption(const std::string& address, unsigned devicePort);

}  // namespace orvana
