#pragma once

// Qt's own strings in Spanish: its dialogs' buttons, context menus and the
// socket's error descriptions.

class QCoreApplication;

namespace platform::system {

// Installs Qt's Spanish translations from Qt's translation path on the
// application; false when they are not installed.
bool installSpanishQtTranslations(QCoreApplication &application);

} // namespace platform::system
