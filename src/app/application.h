#pragma once

class QApplication;

// What every start of the program sets up before the window: its names for
// the desktop, the Chinese locale and Qt's Chinese texts, the window icon.
void setUpApplication(QApplication &app);
