#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace platform::system {

bool installSpanishQtTranslations(QCoreApplication &application)
{
    auto *translator = new QTranslator(&application);
    // A program installed on its own (Windows' portable folder and
    // installer) carries Qt's strings in translations/ beside it; one that
    // uses the system's Qt finds them where that Qt keeps them.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
    for (const QString &folder : {beside, QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (translator->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"),
                             QStringLiteral("_"), folder))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}

} // namespace platform::system
