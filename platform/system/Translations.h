#pragma once

// Qt's own strings in Spanish: its dialogs' buttons, context menus and the
// socket's error descriptions.

class QCoreApplication;

namespace platform::system {

// Installs Qt's Spanish translations on the application, from translations/
// beside the program or else from Qt's translation path; false when neither
// has them.
bool installSpanishQtTranslations(QCoreApplication &application);

} // namespace platform::system
