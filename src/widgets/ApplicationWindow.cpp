#include "widgets/ApplicationWindow.h"

ApplicationWindow* applicationWindow = nullptr;
QPalette defaultPalette;
qint64 const g_currentVersion = 20120720;
