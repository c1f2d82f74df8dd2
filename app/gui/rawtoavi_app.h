// The application object of rawtoavi-gui.
#pragma once

#include <QApplication>

class CRawToAviApp final : public QApplication {
  Q_OBJECT

 public:
  // Names the application after the executable (argv[0]), sets its version and the window
  // icon. `argc` and `argv` must outlive the object, as QApplication requires.
  CRawToAviApp(int& argc, char** argv);

  // Runs the dialog modally; the program ends when it closes. Returns the exit status.
  int Run();
};
