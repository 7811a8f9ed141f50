#pragma once

#include <QString>

// One row of the upgrade history as the store keeps its text.
struct HistoryRow {
    QString started; // ISO 8601, UTC
    QString manufacturer, product;
    QString imagePath;
    QString versionBefore, versionAfter;
    QString result; // the stored name: "success", "interrupted", ...
    QString logPath;
};

// "2026-12-06 23:41:05" in the local time zone; the text as it is when it is
// not a time.
QString historyLocalTime(const QString &isoUtc);
QString historyImageName(const QString &path);
// "1.0.3 → 2.1.0"; a version not read shows as "N/A".
QString historyVersions(const QString &before, const QString &after);
// The result in the user's language; a name this version does not know, as it is.
QString historyResultText(const QString &resultName);
// The row as text lines for the clipboard, in English like the device info.
QString historyRowText(const HistoryRow &row);
