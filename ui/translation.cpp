#include "ui/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace darq {

std::vector<std::unique_ptr<QTranslator>> installTranslations(const QLocale& locale) {
    std::vector<std::unique_ptr<QTranslator>> installed;
    const auto install = [&](const QString& name, const QString& directory) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(locale, name, QStringLiteral("_"), directory) &&
            QCoreApplication::installTranslator(translator.get())) {
            installed.push_back(std::move(translator));
        }
    };
    install(QStringLiteral("darq-flowtest"), QStringLiteral(":/i18n"));
    install(QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return installed;
}

} // namespace darq
