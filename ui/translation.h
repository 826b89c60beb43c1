#pragma once

#include <QLocale>
#include <QTranslator>

#include <memory>
#include <vector>

namespace darq {

// The window's texts beyond its fixed Chinese captions are written in English and translated:
// under a Simplified Chinese locale the whole window is Chinese, under any other the added texts
// are English. Loads the translation for `locale`, and Qt's own for its dialogs' buttons where
// the system has it, and installs them in the application. They stay installed while the
// returned translators live.
std::vector<std::unique_ptr<QTranslator>> installTranslations(const QLocale& locale);

} // namespace darq
