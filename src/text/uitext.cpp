#include "text/uitext.h"

#include <QLocale>

bool isChineseLanguageList(const QStringList &uiLanguages)
{
    return !uiLanguages.isEmpty() && uiLanguages.first().startsWith(QLatin1String("zh"), Qt::CaseSensitive);
}

bool isChineseLocale()
{
    return isChineseLanguageList(QLocale::system().uiLanguages());
}

QString fillPlaceholder(const QString &format, const QString &value)
{
    QString result = format;
    const qsizetype at = result.indexOf(QLatin1String("%@"));
    if (at >= 0)
        result.replace(at, 2, value);
    return result;
}

QString UiText::text() const
{
    return QString::fromUtf8(isChineseLocale() ? chinese : english);
}

QString UiText::arg(const QString &value) const
{
    return fillPlaceholder(text(), value);
}
