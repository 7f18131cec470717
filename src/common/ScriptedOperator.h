#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/Operator.h"

namespace orvana {

// Operator for tests: records everything shown and answers from queues. An empty queue answers
// No / cancel / -1. `onProcessEvents` lets a test act in the middle of a long operation (for
// example press Cancel after the n-th page).
class ScriptedOperator : public Operator {
 public:
  struct Event {
    std::string kind;  // "message", "confirm", "prompt", "choose", "status0", "status1", "title"
    std::string text;
  };

  std::deque<bool> confirmAnswers;
  std::deque<std::string> promptAnswers;  // "\x18" (CAN) in the queue means Cancel
  std::deque<int> chooseAnswers;
  std::function<void()> onProcessEvents;

  std::vector<Event> events;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> status[2];
  std::string title;
  int progressMax = 0;
  int progress = 0;
  Cursor cursor = Cursor::Arrow;
  bool controlsEnabled = true;
  bool terminateRequested = false;
  int processEventsCalls = 0;

  void message(const std::string& text) override;
  bool confirm(const std::string& text) override;
  bool prompt(const std::string& text, std::string& value) override;
  int choose(const std::string& text, const std::vector<std::string>& options) override;
  void setStatus(int panel, const std::string& text) override;
  void setProgressMax(int maximum) override { progressMax = maximum; }
  void setProgress(int position) override { progress = position; }
  void setTitle(const std::string& text) override;
  void setCursor(Cursor c) override { cursor = c; }
  void setControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
  void processEvents() override;
  void requestTerminate() override { terminateRequested = true; }
};

}  // namespace orvana
