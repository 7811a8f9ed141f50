#pragma once

#include "cli/cliargs.h"
#include "devices/devicerecord.h"
#include "history/flashrecord.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct FlashOutcome;

// What quorvale-cli says about one upgrade: the JSON document and the lines
// for people are made from this alone.
struct UpgradeSummary {
    // The history's names ("success", "failed", "abnormal end", "could not
    // launch", "refused"), or "no dock" and "not confirmed", which leave no row.
    QString result;
    ExitStatus exitStatus = ExitStatus::Failure;
    std::optional<DeviceRecord> dock;
    QString versionBefore, versionAfter; // empty or "N/A": not read
    QString imagePath;
    std::optional<qint64> imageSize;
    QString imageSha256; // of the copy the tool flashed
    std::optional<int> silenceLimitSeconds;
    QString headline, message, details;
    QString logPath;
    std::optional<qint64> historyId;
    QDateTime started, ended; // UTC
    std::optional<int> toolExitStatus, toolSignal;
    QStringList output; // --verbose: the tool's output, cleaned
};

// How an upgrade that went past the confirmation ends the program: done,
// no dock (it went), or a failure.
ExitStatus flashExitStatus(const FlashOutcome &outcome);
// The summary of such an upgrade, before the version is read again.
UpgradeSummary summarizeFlash(const FlashOutcome &outcome);

// "2026-12-07T01:20:03.120Z"; nothing for a null time.
QString isoUtc(const QDateTime &time);

QJsonObject dockJson(const DeviceRecord &dock);
QJsonObject docksJson(const DeviceList &docks);
QJsonObject upgradeJson(const UpgradeSummary &summary);
QJsonObject historyJson(const QList<FlashRecord> &rows);
// The whole document as written to standard output, with a final newline.
QByteArray jsonDocument(const QJsonObject &object);

// Text for a terminal: control characters (escape sequences, carriage
// returns) become U+FFFD; line breaks stay only where keepLines says so.
QString terminalText(const QString &text, bool keepLines = false);
// Columns a text takes on a terminal: East Asian wide characters take two.
int displayWidth(QStringView text);
// Rows of cells as lines of aligned columns, two spaces apart; the first
// row is the header.
QString formatTable(const QList<QStringList> &rows);

// For people, in the user's language.
QString docksTable(const DeviceList &docks);
QString historyTable(const QList<FlashRecord> &rows);
QString upgradeText(const UpgradeSummary &summary);
// The line rewritten in place during a flash: "[1:05] Upgrading firmware, do
// not disconnect USB device".
QString flashStatusLine(qint64 elapsedSeconds);
