// The German translations of Qt's own texts: the buttons of message boxes and
// button boxes ("&Ja", "Abbrechen") and the file dialogs, so they match the
// console's German texts.
// Thread use: user interface thread, after the application object exists.
#pragma once

#include <QTranslator>
#include <string>

// Where Qt keeps its translation files (qtbase_de.qm and the others).
std::string QtTranslationsFolder();
// Loads qtbase_de from that folder into translator and installs it in the
// application. False when the file is missing or cannot be read (Qt's texts then
// stay in English). The translator must outlive its use.
bool LoadGermanQtTranslations(QTranslator& translator);
