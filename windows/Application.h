#pragma once

class QApplication;

// What the program sets up on its application before the main window: the
// desktop's id for matching windows to the installed entry, the window icon
// from the icon theme, and Qt's own strings in Spanish.
void setUpApplication(QApplication &application);
