#include "text/historytexts.h"

#include "devices/devicerecord.h"
#include "history/flashrecord.h"
#include "text/uitext.h"

#include <QDateTime>
#include <QFileInfo>

QString historyLocalTime(const QString &isoUtc)
{
    const QDateTime time = QDateTime::fromString(isoUtc, Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : isoUtc;
}

QString historyImageName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString historyVersions(const QString &before, const QString &after)
{
    const auto shown = [](const QString &version) {
        return version.isEmpty() ? QString::fromLatin1(VersionUnknown) : version;
    };
    return shown(before) + QStringLiteral(" \u2192 ") + shown(after);
}

QString historyResultText(const QString &resultName)
{
    const std::optional<FlashResult> result = flashResultFromName(resultName);
    if (!result)
        return resultName;
    switch (*result) {
    case FlashResult::Running:
        return Ui::ResultRunning.text();
    case FlashResult::Success:
        return Ui::ResultSuccess.text();
    case FlashResult::Failed:
        return Ui::ResultFailed.text();
    case FlashResult::AbnormalEnd:
        return Ui::ResultAbnormalEnd.text();
    case FlashResult::LaunchFailed:
        return Ui::ResultLaunchFailed.text();
    case FlashResult::Refused:
        return Ui::ResultRefused.text();
    case FlashResult::Interrupted:
        break;
    }
    return Ui::ResultInterrupted.text();
}

QString historyRowText(const HistoryRow &row)
{
    // One multi-argument arg(), so that a "%1" inside a name or path stays text.
    return QStringLiteral("Time: %1\nDock: %2 %3\nImage: %4\nVersion: %5\nResult: %6\nLog: %7")
        .arg(historyLocalTime(row.started), row.manufacturer, row.product, row.imagePath,
             historyVersions(row.versionBefore, row.versionAfter), row.result, row.logPath);
}
