#include "common/ScriptedOperator.h"

namespace orvana {

void ScriptedOperator::message(const std::string& text) {
  messages.push_back(text);
  events.push_back({"message", text});
}

bool ScriptedOperator::confirm(const std::string& text) {
  questions.push_back(text);
  events.push_back({"confirm", text});
  if (confirmAnswers.empty()) return false;
  bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

bool ScriptedOperator::prompt(const std::string& text, std::string& value) {
  events.push_back({"prompt", text});
  if (promptAnswers.empty()) return false;
  std::string answer = promptAnswers.front();
  promptAnswers.pop_front();
  if (answer == "\x18") return false;
  value = answer;
  return true;
}

int ScriptedOperator::choose(const std::string& text, const std::vector<std::string>&) {
  events.push_back({"choose", text});
  if (chooseAnswers.empty()) return -1;
  int answer = chooseAnswers.front();
  chooseAnswers.pop_front();
  return answer;
}

void ScriptedOperator::setStatus(int panel, const std::string& text) {
  if (panel == 0 || panel == 1) status[panel].push_back(text);
  events.push_back({panel == 1 ? "status1" : "status0", text});
}

void ScriptedOperator::setTitle(const std::string& text) {
  title = text;
  events.push_back({"title", text});
}

void ScriptedOperator::processEvents() {
  ++processEventsCalls;
  if (onProcessEvents) onProcessEvents();
}

}  // namespace orvana
