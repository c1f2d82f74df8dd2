#include "tests/gui/worker_gate.h"

#include <chrono>

namespace gui_testing {

// The dialog's interface with a hold at the first progress report.
class HoldingUi final : public ConversionUi {
 public:
  HoldingUi(ConversionUi& inner, WorkerGate& gate, const BatchControl& control)
      : m_inner(inner), m_gate(gate), m_control(control) {}

  void ResetContent() override { m_inner.ResetContent(); }
  void InsertString(int index, const std::string& line) override {
    m_inner.InsertString(index, line);
  }
  void DeleteString(int index) override { m_inner.DeleteString(index); }
  void EnableButtons() override { m_inner.EnableButtons(); }
  void ShowMessage(const std::string& message, const std::string& cause) override {
    m_inner.ShowMessage(message, cause);
  }
  void ShowProgress(uint64_t consumed, uint64_t total) override {
    m_gate.Hold(WorkerGate::kConverting, m_control);
    m_inner.ShowProgress(consumed, total);
  }

 private:
  ConversionUi& m_inner;
  WorkerGate& m_gate;
  const BatchControl& m_control;
};

CRawToAviDlg::WorkerProc WorkerGate::Proc() {
  return [this](const ConversionRequest& request, ConversionUi& ui, BatchControl& control) {
    Hold(kStart, control);
    HoldingUi holding(ui, *this, control);
    return ConvertThreadProc(request, holding, control);
  };
}

bool WorkerGate::Reached(Point point) const {
  std::lock_guard lock(m_mutex);
  return m_reached[point];
}

void WorkerGate::Open(Point point) {
  {
    std::lock_guard lock(m_mutex);
    m_open[point] = true;
  }
  m_opened.notify_all();
}

void WorkerGate::Hold(Point point, const BatchControl& control) {
  std::unique_lock lock(m_mutex);
  m_reached[point] = true;
  // The control's flags come without a notification: look at them now and then.
  while (!m_open[point] && !control.abandon && !(m_release == Release::kOnStop && control.stop)) {
    m_opened.wait_for(lock, std::chrono::milliseconds(10));
  }
}

}  // namespace gui_testing
