// rawtoavi-gui: the dialog that converts raw recordings to AVI files.
#include <iostream>

#include "app/gui/gui_version.h"
#include "app/gui/rawtoavi_app.h"

int main(int argc, char** argv) {
  // Before QApplication, which would need a display.
  if (WantsVersion(argc, argv)) {
    PrintVersion(std::cout, argv[0]);
    return 0;
  }
  CRawToAviApp app(argc, argv);
  return app.Run();
}
