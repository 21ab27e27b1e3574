// Qt's own texts in German.
#include "server/console/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

std::string QtTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
}

bool LoadGermanQtTranslations(QTranslator& translator) {
    if (!translator.load("qtbase_de", QString::fromStdString(QtTranslationsFolder()))) {
        return false;
    }
    return QCoreApplication::installTranslator(&translator);
}
