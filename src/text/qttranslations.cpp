#include "text/qttranslations.h"

#include "core/log.h"
#include "text/uitext.h"

#include <QCoreApplication>
#include <QTranslator>

#include <algorithm>
#include <memory>
#include <string_view>

namespace {
// Qt's contexts whose texts are reasons the program writes into its log:
// a settings file that cannot be saved, a log file or a process that fails.
constexpr std::string_view LoggedContexts[] = {"QIODevice", "QFileDevice", "QFile", "QSaveFile", "QProcess"};

class QtTextTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation, int n) const override
    {
        if (context && std::find(std::begin(LoggedContexts), std::end(LoggedContexts), context) != std::end(LoggedContexts))
            return {};
        return QTranslator::translate(context, sourceText, disambiguation, n);
    }
};
} // namespace

bool installQtTranslations(const QString &directory)
{
    if (!isChineseLocale())
        return false;
    auto translator = std::make_unique<QtTextTranslator>();
    // The program's Chinese is Simplified Chinese, whichever Chinese the
    // desktop names first: Qt's texts match the program's own.
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), directory)) {
        logLine(QStringLiteral("Qt's Chinese translations were not found in ") + directory
                + QStringLiteral("; Qt's dialogs and menus stay English"));
        return false;
    }
    translator->setParent(QCoreApplication::instance());
    QCoreApplication::installTranslator(translator.release());
    return true;
}
