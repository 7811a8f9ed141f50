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

QString fillPlaceholders(const QString &format, const QStringList &values)
{
    QString result;
    qsizetype from = 0;
    for (const QString &value : values) {
        const qsizetype at = format.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        result += QStringView(format).sliced(from, at - from);
        result += value;
        from = at + 2;
    }
    result += QStringView(format).sliced(from);
    return result;
}

QString UiText::text() const
{
    return QString::fromUtf8(isChineseLocale() ? chinese : english);
}

QString UiText::arg(const QString &value) const
{
    return fillPlaceholders(text(), {value});
}

QString UiText::arg(const QString &first, const QString &second) const
{
    return fillPlaceholders(text(), {first, second});
}
