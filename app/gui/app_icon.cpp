#include "app/gui/app_icon.h"

#include <QString>

QIcon AppIcon() {
  // The resource lives in a static library, where nothing else would pull it in.
  Q_INIT_RESOURCE(rawtoavi_gui);
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/rawtoavi-gui/icons/rawtoavi-gui-%1.png").arg(size),
                 QSize(size, size));
  }
  return icon;
}
