#include "app/cli/console_ui.h"

#include <iostream>

#include "app/cli/progress_bar.h"

namespace {

bool IsError(const std::string& line) {
  return line.find(kFailedSuffix) != std::string::npos ||
         line.find(kFolderUnreadableSuffix) != std::string::npos;
}

}  // namespace

void ConsoleUi::InsertString(int index, const std::string& line) {
  ClearBar();
  if (index == 0) {
    if (m_bannerShown) return;
    m_bannerShown = true;
  }
  if (IsError(line)) {
    std::cerr << line << std::endl;
  } else if (!m_quiet) {
    std::cout << line << std::endl;  // flushed, so it stands before any later error
  }
}

void ConsoleUi::DeleteString(int) { ClearBar(); }

void ConsoleUi::ShowMessage(const std::string& message, const std::string& cause) {
  ClearBar();
  std::cerr << "rawtoavi: " << message << " (" << cause << ")" << std::endl;
}

void ConsoleUi::ShowProgress(uint64_t consumed, uint64_t total) {
  if (m_quiet || !m_progressBar) return;
  std::string bar = FormatProgressBar(consumed, total);
  if (bar == m_bar) return;
  // Overwrite the old bar, padding where the new one is shorter.
  const size_t shown = bar.size();
  if (m_bar.size() > shown) bar.append(m_bar.size() - shown, ' ');
  std::cerr << '\r' << bar << std::flush;
  bar.resize(shown);
  m_bar = std::move(bar);
}

void ConsoleUi::ClearBar() {
  if (m_bar.empty()) return;
  std::cerr << '\r' << std::string(m_bar.size(), ' ') << '\r' << std::flush;
  m_bar.clear();
}
