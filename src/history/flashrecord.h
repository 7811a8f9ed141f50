#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

// How an upgrade attempt ended; Running until it does. Interrupted: the
// program was gone before the flash ended, found at a later start.
enum class FlashResult { Running, Success, Failed, AbnormalEnd, LaunchFailed, Refused, Interrupted };

// The text a result is stored as ("running", "success", "failed",
// "abnormal end", "could not launch", "refused", "interrupted"): other
// programs and later versions read the file too, so these never change.
QString flashResultName(FlashResult result);
std::optional<FlashResult> flashResultFromName(QStringView name);

// One upgrade attempt that got past the confirmation, one row of the history.
struct FlashRecord {
    qint64 id = 0;
    QDateTime started; // UTC
    QDateTime ended;   // UTC; null while running
    // The dock; serial is empty for a dock without one.
    QString manufacturer;
    QString product;
    QString serial;
    QString syspath;
    // As shown to the user; versionAfter is empty until read again, and may stay so.
    QString versionBefore;
    QString versionAfter;
    QString imagePath;   // the file the user picked
    qint64 imageSize = 0;
    QString imageSha256; // hex, lower case, of the copy the tool was given
    int silenceLimitSeconds = 0; // 0: no limit
    FlashResult result = FlashResult::Running;
    QString message;       // the text the user saw
    QString logPath;       // the run's log under /tmp, which a reboot removes
    QByteArray outputTail; // the end of the tool's output, at most FlashRecord::TailBytes

    static constexpr qsizetype TailBytes = 64 * 1024;
    friend bool operator==(const FlashRecord &, const FlashRecord &) = default;
};

// The columns of HistoryStore::windowSelect(), in their order: what the
// History window shows, and the log it opens.
enum class HistoryColumn {
    Id,
    Started,
    Manufacturer,
    Product,
    Serial,
    ImagePath,
    VersionBefore,
    VersionAfter,
    Result,
    Message,
    LogPath
};
