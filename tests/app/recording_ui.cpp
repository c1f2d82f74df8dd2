#include "tests/app/recording_ui.h"

namespace testing_support {

UiCall Reset() { return UiCall{}; }

UiCall Insert(int index, const std::string& line) {
  UiCall call;
  call.kind = UiCall::Kind::kInsert;
  call.index = index;
  call.text = line;
  return call;
}

UiCall Delete(int index) {
  UiCall call;
  call.kind = UiCall::Kind::kDelete;
  call.index = index;
  return call;
}

UiCall Enable() {
  UiCall call;
  call.kind = UiCall::Kind::kEnable;
  return call;
}

UiCall Message(const std::string& message, const std::string& cause) {
  UiCall call;
  call.kind = UiCall::Kind::kMessage;
  call.text = message;
  call.cause = cause;
  return call;
}

UiCall Progress(uint64_t consumed, uint64_t total) {
  UiCall call;
  call.kind = UiCall::Kind::kProgress;
  call.consumed = consumed;
  call.total = total;
  return call;
}

void PrintTo(const UiCall& call, std::ostream* os) {
  switch (call.kind) {
    case UiCall::Kind::kReset:
      *os << "ResetContent()";
      break;
    case UiCall::Kind::kInsert:
      *os << "InsertString(" << call.index << ", \"" << call.text << "\")";
      break;
    case UiCall::Kind::kDelete:
      *os << "DeleteString(" << call.index << ")";
      break;
    case UiCall::Kind::kEnable:
      *os << "EnableButtons()";
      break;
    case UiCall::Kind::kMessage:
      *os << "ShowMessage(\"" << call.text << "\", \"" << call.cause << "\")";
      break;
    case UiCall::Kind::kProgress:
      *os << "ShowProgress(" << call.consumed << ", " << call.total << ")";
      break;
  }
}

void RecordingUi::ResetContent() {
  m_calls.push_back(Reset());
  m_lines.clear();
}

void RecordingUi::InsertString(int index, const std::string& line) {
  m_calls.push_back(Insert(index, line));
  if (index < 0 || static_cast<size_t>(index) > m_lines.size()) {
    ADD_FAILURE() << "InsertString at " << index << " into a list of " << m_lines.size();
    return;
  }
  m_lines.insert(m_lines.begin() + index, line);
  if (onInsert) onInsert(line);
}

void RecordingUi::DeleteString(int index) {
  m_calls.push_back(Delete(index));
  if (index < 0 || static_cast<size_t>(index) >= m_lines.size()) {
    ADD_FAILURE() << "DeleteString at " << index << " from a list of " << m_lines.size();
    return;
  }
  m_lines.erase(m_lines.begin() + index);
}

void RecordingUi::EnableButtons() { m_calls.push_back(Enable()); }

void RecordingUi::ShowMessage(const std::string& message, const std::string& cause) {
  m_calls.push_back(Message(message, cause));
}

void RecordingUi::ShowProgress(uint64_t consumed, uint64_t total) {
  m_calls.push_back(Progress(consumed, total));
}

std::vector<UiCall> RecordingUi::ListCalls() const {
  std::vector<UiCall> calls;
  for (const UiCall& call : m_calls) {
    if (call.kind != UiCall::Kind::kProgress) calls.push_back(call);
  }
  return calls;
}

}  // namespace testing_support
