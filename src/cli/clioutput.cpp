#include "cli/clioutput.h"

#include "core/printable.h"
#include "flash/flashjob.h"
#include "text/historytexts.h"
#include "text/uitext.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue versionOrNull(const QString &version)
{
    return version == QLatin1String(VersionUnknown) ? QJsonValue(QJsonValue::Null) : textOrNull(version);
}

template <typename T>
QJsonValue numberOrNull(const std::optional<T> &number)
{
    return number ? QJsonValue(double(*number)) : QJsonValue(QJsonValue::Null);
}

QJsonValue timeOrNull(const QDateTime &time)
{
    return textOrNull(isoUtc(time));
}

// East Asian wide and fullwidth ranges, enough for the catalogue's Chinese
// and for names a dock may carry.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF)
        || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}
} // namespace

ExitStatus flashExitStatus(const FlashOutcome &outcome)
{
    if (outcome.success)
        return ExitStatus::Done;
    return outcome.kind == FlashOutcome::Kind::DockGone ? ExitStatus::NotFound : ExitStatus::Failure;
}

UpgradeSummary summarizeFlash(const FlashOutcome &outcome)
{
    UpgradeSummary summary;
    summary.exitStatus = flashExitStatus(outcome);
    summary.result = outcome.kind == FlashOutcome::Kind::DockGone ? QStringLiteral("no dock")
                                                                  : flashResultName(flashResultOf(outcome));
    summary.headline = outcome.kind == FlashOutcome::Kind::DockGone ? Ui::UpgradeFailed.text() : outcome.headline;
    summary.message = outcome.kind == FlashOutcome::Kind::DockGone ? Ui::CliDockGone.text() : outcome.message;
    summary.details = outcome.details;
    summary.logPath = outcome.report.logPath;
    summary.historyId = outcome.historyId;
    if (outcome.kind == FlashOutcome::Kind::Ran) {
        if (outcome.report.exitKind == ExitKind::Normal)
            summary.toolExitStatus = outcome.report.exitStatus;
        else
            summary.toolSignal = outcome.report.exitStatus;
    }
    return summary;
}

QString isoUtc(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonObject dockJson(const DeviceRecord &dock)
{
    return {
        {QStringLiteral("manufacturer"), textOrNull(dock.vendor)},
        {QStringLiteral("product"), textOrNull(dock.product)},
        {QStringLiteral("serial"), textOrNull(dock.serial)},
        {QStringLiteral("sysfsPath"), textOrNull(dock.syspath)},
        {QStringLiteral("version"), versionOrNull(dock.fwversion)},
    };
}

QJsonObject docksJson(const DeviceList &docks)
{
    QJsonArray list;
    for (const DeviceRecord &dock : docks)
        list.append(dockJson(dock));
    return {{QStringLiteral("docks"), list}};
}

QJsonObject upgradeJson(const UpgradeSummary &summary)
{
    return {
        {QStringLiteral("result"), summary.result},
        {QStringLiteral("exitStatus"), int(summary.exitStatus)},
        {QStringLiteral("dock"), summary.dock ? QJsonValue(dockJson(*summary.dock)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("versionBefore"), versionOrNull(summary.versionBefore)},
        {QStringLiteral("versionAfter"), versionOrNull(summary.versionAfter)},
        {QStringLiteral("image"),
         QJsonObject{{QStringLiteral("path"), summary.imagePath},
                     {QStringLiteral("size"), numberOrNull(summary.imageSize)},
                     {QStringLiteral("sha256"), textOrNull(summary.imageSha256)}}},
        {QStringLiteral("silenceLimitSeconds"), numberOrNull(summary.silenceLimitSeconds)},
        {QStringLiteral("headline"), textOrNull(summary.headline)},
        {QStringLiteral("message"), textOrNull(summary.message)},
        {QStringLiteral("details"), textOrNull(summary.details)},
        {QStringLiteral("log"), textOrNull(summary.logPath)},
        {QStringLiteral("historyId"), numberOrNull(summary.historyId)},
        {QStringLiteral("started"), timeOrNull(summary.started)},
        {QStringLiteral("ended"), timeOrNull(summary.ended)},
        {QStringLiteral("toolExitStatus"), numberOrNull(summary.toolExitStatus)},
        {QStringLiteral("toolSignal"), numberOrNull(summary.toolSignal)},
        {QStringLiteral("output"), summary.output.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                            : QJsonValue(QJsonArray::fromStringList(summary.output))},
    };
}

QJsonObject historyJson(const QList<FlashRecord> &rows)
{
    QJsonArray list;
    for (const FlashRecord &row : rows) {
        list.append(QJsonObject{
            {QStringLiteral("id"), double(row.id)},
            {QStringLiteral("started"), timeOrNull(row.started)},
            {QStringLiteral("ended"), timeOrNull(row.ended)},
            {QStringLiteral("dock"),
             QJsonObject{{QStringLiteral("manufacturer"), textOrNull(row.manufacturer)},
                         {QStringLiteral("product"), textOrNull(row.product)},
                         {QStringLiteral("serial"), textOrNull(row.serial)},
                         {QStringLiteral("sysfsPath"), textOrNull(row.syspath)}}},
            {QStringLiteral("versionBefore"), versionOrNull(row.versionBefore)},
            {QStringLiteral("versionAfter"), versionOrNull(row.versionAfter)},
            {QStringLiteral("image"),
             QJsonObject{{QStringLiteral("path"), row.imagePath},
                         {QStringLiteral("size"), double(row.imageSize)},
                         {QStringLiteral("sha256"), textOrNull(row.imageSha256)}}},
            {QStringLiteral("silenceLimitSeconds"), row.silenceLimitSeconds},
            {QStringLiteral("result"), flashResultName(row.result)},
            {QStringLiteral("message"), textOrNull(row.message)},
            {QStringLiteral("log"), textOrNull(row.logPath)},
        });
    }
    return {{QStringLiteral("upgrades"), list}};
}

QByteArray jsonDocument(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QString terminalText(const QString &text, bool keepLines)
{
    return withoutControlCharacters(text, keepLines ? u"\n" : u"");
}

int displayWidth(QStringView text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

QString formatTable(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], displayWidth(terminalText(row.at(i))));
        }
    QString table;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString cell = terminalText(row.at(i));
            line += cell;
            if (i + 1 < row.size())
                line += QString(widths.at(i) - displayWidth(cell) + 2, QLatin1Char(' '));
        }
        table += line + QLatin1Char('\n');
    }
    return table;
}

QString docksTable(const DeviceList &docks)
{
    if (docks.isEmpty())
        return Ui::CliNoDock.text() + QLatin1Char('\n');
    QList<QStringList> rows{{Ui::Vendor.text(), Ui::Product.text(), Ui::FWVersion.text()}};
    for (const DeviceRecord &dock : docks)
        rows.append({dock.vendor, dock.product, dock.fwversion.isEmpty() ? QLatin1String(VersionUnknown) : dock.fwversion});
    return formatTable(rows);
}

QString historyTable(const QList<FlashRecord> &rows)
{
    if (rows.isEmpty())
        return Ui::CliNoHistory.text() + QLatin1Char('\n');
    QList<QStringList> table{{Ui::HistoryTime.text(), Ui::HistoryDock.text(), Ui::HistoryImage.text(),
                              Ui::HistoryVersion.text(), Ui::HistoryResult.text()}};
    for (const FlashRecord &row : rows)
        table.append({historyLocalTime(isoUtc(row.started)), row.manufacturer + QLatin1Char(' ') + row.product,
                      historyImageName(row.imagePath), historyVersions(row.versionBefore, row.versionAfter),
                      historyResultText(flashResultName(row.result))});
    return formatTable(table);
}

QString upgradeText(const UpgradeSummary &summary)
{
    QStringList lines;
    if (!summary.output.isEmpty())
        lines << Ui::CliToolOutput.text() << summary.output << QString();
    if (!summary.headline.isEmpty())
        lines << summary.headline;
    if (!summary.message.isEmpty())
        lines << summary.message;
    if (!summary.details.isEmpty())
        lines << QString() << summary.details;
    if (summary.result == flashResultName(FlashResult::Success) && !summary.versionAfter.isEmpty())
        lines << Ui::CliVersionNow.arg(summary.versionAfter);
    return terminalText(lines.join(QLatin1Char('\n')), true) + QLatin1Char('\n');
}

QString flashStatusLine(qint64 elapsedSeconds)
{
    const QString elapsed = QStringLiteral("%1:%2").arg(elapsedSeconds / 60).arg(elapsedSeconds % 60, 2, 10, QLatin1Char('0'));
    return QLatin1Char('[') + elapsed + QStringLiteral("] ") + Ui::DoNotDisconnect.text();
}
