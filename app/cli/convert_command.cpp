#include "app/cli/convert_command.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <system_error>

#include "app/batch_driver.h"
#include "app/cli/console_ui.h"
#include "app/cli/exit_status.h"

namespace {

std::atomic<bool>* g_abandon = nullptr;

extern "C" void OnInterrupt(int) {
  // A lock-free atomic store is safe in a signal handler.
  if (g_abandon) g_abandon->store(true);
}

// Abandons the conversion in hand on SIGINT or SIGTERM while it lives; a second signal ends
// the program the default way.
class InterruptGuard {
 public:
  explicit InterruptGuard(std::atomic<bool>& abandon) {
    static_assert(std::atomic<bool>::is_always_lock_free);
    g_abandon = &abandon;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
  }
  ~InterruptGuard() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_abandon = nullptr;
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction m_oldInt {};
  struct sigaction m_oldTerm {};
};

}  // namespace

int RunConvertCommand(const ConvertCommand& command) {
  ConsoleUi ui(command.quiet, isatty(STDERR_FILENO) == 1);
  BatchControl control;
  const InterruptGuard guard(control.abandon);
  int failed = 0;
  for (const std::string& path : command.paths) {
    ConversionRequest request;
    std::error_code ec;
    request.bSingleFile = !std::filesystem::is_directory(path, ec);
    request.path = path;
    request.outputPath = command.output;
    request.replaceExisting = command.replaceExisting;
    failed += ConvertRawFiles(request, ui, control).failed;
    if (control.abandon) return kExitInterrupted;
  }
  return failed == 0 ? kExitSuccess : kExitFailure;
}
