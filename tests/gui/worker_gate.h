// Holds a dialog's worker at known points, so that a test can look at the dialog while the
// worker is in a known state, or press Exit in the middle of a conversion. The batch driver
// and the converter run unchanged; the gate only wraps the worker's user interface.
#pragma once

#include <array>
#include <condition_variable>
#include <mutex>

#include "app/gui/rawtoavi_dlg.h"

namespace gui_testing {

class WorkerGate {
 public:
  enum Point {
    kStart,       // before the driver runs
    kConverting,  // at the first progress report of a conversion: its output is half written
    kPointCount
  };
  // What ends a hold besides Open. Abandoning always does, as a slow conversion would notice
  // it at its next frame.
  enum class Release { kByTest, kOnStop };

  explicit WorkerGate(Release release = Release::kByTest) : m_release(release) {}

  // The worker procedure for CRawToAviDlg::SetWorkerProc: ConvertThreadProc behind the holds.
  // The gate must outlive the worker.
  CRawToAviDlg::WorkerProc Proc();

  // Any thread.
  bool Reached(Point point) const;
  // Lets the worker pass `point`, now and from then on.
  void Open(Point point);

 private:
  friend class HoldingUi;
  // Worker thread: marks `point` reached and waits until the hold ends.
  void Hold(Point point, const BatchControl& control);

  const Release m_release;
  mutable std::mutex m_mutex;
  std::condition_variable m_opened;
  std::array<bool, kPointCount> m_reached{};
  std::array<bool, kPointCount> m_open{};
};

}  // namespace gui_testing
