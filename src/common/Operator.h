#pragma once

#include <string>
#include <vector>

namespace orvana {

// The one way the core reaches a person. The Qt window implements it with real dialogs, the
// command line with the terminal and its options, tests with ScriptedOperator.
class Operator {
 public:
  enum class Cursor { Arrow, Wait };

  virtual ~Operator() = default;

  // Plain message box with an OK button.
  virtual void message(const std::string& text) = 0;
  // Yes/No question; true only for Yes.
  virtual bool confirm(const std::string& text) = 0;
  // Text prompt with a prefill; false when the operator cancelled (value is then unchanged).
  virtual bool prompt(const std::string& text, std::string& value) = 0;
  // Choice among labelled buttons; the index chosen, or -1 when dismissed.
  virtual int choose(const std::string& text, const std::vector<std::string>& options) = 0;

  // Status bar panel text (panel 0: state and messages, panel 1: link counters).
  virtual void setStatus(int panel, const std::string& text) = 0;
  virtual void setProgressMax(int maximum) = 0;
  virtual void setProgress(int position) = 0;
  virtual void setTitle(const std::string& text) = 0;
  virtual void setCursor(Cursor cursor) = 0;
  // Long operations hide every control but Cancel.
  virtual void setControlsEnabled(bool enabled) = 0;
  // Lets pending events run (repaints, the Cancel button) between pages.
  virtual void processEvents() = 0;
  // Asks the application to end as soon as its event loop runs.
  virtual void requestTerminate() = 0;
};

// Does nothing and answers every question with No; for code paths that run unattended.
class SilentOperator : public Operator {
 public:
  void message(const std::string&) override {}
  bool confirm(const std::string&) override { return false; }
  bool prompt(const std::string&, std::string&) override { return false; }
  int choose(const std::string&, const std::vector<std::string>&) override { return -1; }
  void setStatus(int, const std::string&) override {}
  void setProgressMax(int) override {}
  void setProgress(int) override {}
  void setTitle(const std::string&) override {}
  void setCursor(Cursor) override {}
  void setControlsEnabled(bool) override {}
  void processEvents() override {}
  void requestTerminate() override {}
};

}  // namespace orvana
