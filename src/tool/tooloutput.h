#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The tool's output as text: UTF-8 when the bytes are valid UTF-8, otherwise
// Latin-1, which accepts any byte, so whatever the tool prints can be shown.
QString decodeToolOutput(const QByteArray &bytes);

// Keeps what a tool prints without letting a runaway tool exhaust memory: up
// to headLimit + tailLimit bytes everything is kept; past that, the start and
// the end are kept, each trimmed to whole lines, so the result never joins two
// halves of different lines into one.
class BoundedOutput {
public:
    static constexpr qsizetype DefaultHeadLimit = 16 * 1024 * 1024;
    static constexpr qsizetype DefaultTailLimit = 16 * 1024 * 1024;

    explicit BoundedOutput(qsizetype headLimit = DefaultHeadLimit, qsizetype tailLimit = DefaultTailLimit);

    void append(const QByteArray &chunk);
    // Everything appended, or its start and end when there was too much.
    QByteArray bytes() const;
    // True when some of the middle had to be dropped.
    bool truncated() const { return m_received > m_headLimit + m_tailLimit; }

private:
    qsizetype m_headLimit;
    qsizetype m_tailLimit;
    QByteArray m_head;
    // The end, as received; whole chunks fall off the front once the rest
    // alone covers tailLimit, so appending stays cheap however much arrives.
    QList<QByteArray> m_tail;
    qsizetype m_tailBytes = 0;
    qsizetype m_received = 0;
};

// Which tool run a saved output belongs to.
enum class ToolLogKind { Sync, Upgrade };

struct ToolLogWrite {
    bool ok = false;
    QString path;  // set in both cases
    QString error; // set on failure
};

// Saves a tool's output as UTF-8 to <directory>/talvex_sync_<UUID>.log or
// talvex_upgrade_<UUID>.log. The file appears complete or not at all, so
// whoever is reading it for a support case never sees half an output.
ToolLogWrite writeToolLog(ToolLogKind kind, const QString &text, const QString &directory = QStringLiteral("/tmp"));
