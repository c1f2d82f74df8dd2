// The program's icon, bundled as a Qt resource at 16, 32 and 48 pixels.
#pragma once

#include <QIcon>

// UI thread; needs a QGuiApplication.
QIcon AppIcon();
