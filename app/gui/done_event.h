// The event a worker thread sets as its very last act, so that the thread that started it can
// wait for it without blocking its event loop.
#pragma once

#include <QObject>
#include <atomic>

// Lives on the waiting (UI) thread. Set may be called from any thread.
class DoneEvent final : public QObject {
  Q_OBJECT

 public:
  // Before a worker starts; never while one runs.
  void Reset() { m_set.store(false); }
  // Marks the event set, then emits Signalled, whose receivers on other threads get it queued.
  void Set();
  bool IsSet() const { return m_set.load(); }

 signals:
  void Signalled();

 private:
  std::atomic<bool> m_set{false};
};
