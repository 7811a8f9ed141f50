#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QFile>

#include <array>

// How a tool's output is read as text: UTF-8 when all of it is valid UTF-8,
// otherwise Latin-1, which accepts any byte, so whatever the tool prints can
// be shown.
enum class OutputEncoding { Utf8, Latin1 };

// The encoding that decodeToolOutput picks for these bytes alone.
OutputEncoding encodingOf(const QByteArray &bytes);
// Decodes as the whole output's encoding; bytes kept from a larger output are
// decoded the way the whole would be.
QString decodeToolOutput(const QByteArray &bytes, OutputEncoding encoding);
inline QString decodeToolOutput(const QByteArray &bytes) { return decodeToolOutput(bytes, encodingOf(bytes)); }

// Keeps what a tool prints without letting a runaway tool exhaust memory: up
// to headLimit + tailLimit bytes everything is kept; past that, the start and
// the end are kept, each trimmed to whole lines, so the result never joins two
// halves of different lines into one.
class BoundedOutput {
public:
    static constexpr qsizetype DefaultHeadLimit = 16 * 1024 * 1024;
    static constexpr qsizetype DefaultTailLimit = 16 * 1024 * 1024;

    explicit BoundedOutput(qsizetype headLimit = DefaultHeadLimit, qsizetype tailLimit = DefaultTailLimit);

    void append(QByteArrayView chunk);
    // Everything appended, or its start and end when there was too much.
    QByteArray bytes() const;
    // The same as decodeToolOutput(bytes(), encoding), without joining the
    // kept start and end in memory first.
    QString text(OutputEncoding encoding) const;
    // The size of bytes().
    qsizetype keptSize() const;
    // True when some of the middle had to be dropped.
    bool truncated() const { return m_received > m_headLimit + m_tailLimit; }
    // Every byte appended, kept or not.
    qint64 received() const { return m_received; }

private:
    // What bytes() holds, in order, as views into the head and the ring.
    std::array<QByteArrayView, 3> pieces() const;

    qsizetype m_headLimit;
    qsizetype m_tailLimit;
    QByteArray m_head;
    // The last tailLimit + 1 bytes after the head, as a ring written over and
    // over: a flood costs one allocation and no copies beyond the ring's own.
    // The extra byte tells whether the kept end starts a line.
    QByteArray m_ring;
    qsizetype m_ringNext = 0; // where the next byte goes
    qsizetype m_ringUsed = 0;
    qint64 m_received = 0;
};

// Which tool run a saved output belongs to.
enum class ToolLogKind { Sync, Upgrade };

// Where the saved outputs of this kind go in `directory`, as a shell
// pattern: <directory>/talvex_sync_*.log or talvex_upgrade_*.log.
QString toolLogPattern(ToolLogKind kind, const QString &directory = QStringLiteral("/tmp"));

struct ToolLogWrite {
    bool ok = false;
    QString path;  // set in both cases
    QString error; // set on failure
};

// Saves a tool's whole output, as it arrives, to <directory>/talvex_sync_<UUID>.log
// or talvex_upgrade_<UUID>.log, byte for byte, whatever the encoding. The file appears under
// its name complete or not at all, so whoever reads it for a support case
// never sees half an output. Every write is checked: a full or unwritable
// directory is a failure with its reason, never a short file.
class ToolLogWriter {
public:
    explicit ToolLogWriter(ToolLogKind kind, const QString &directory = QStringLiteral("/tmp"));
    ~ToolLogWriter();
    ToolLogWriter(const ToolLogWriter &) = delete;
    ToolLogWriter &operator=(const ToolLogWriter &) = delete;

    void append(QByteArrayView bytes);
    // Encoding of everything appended so far, should it end here.
    OutputEncoding encoding() const;
    // Gives the file its name. Call once, after the last append.
    ToolLogWrite finish();

private:
    bool fail(const QString &error);

    ToolLogWrite m_result;
    QFile m_file; // the output as received, under a name of its own until finished
    QStringDecoder m_utf8; // checks the stream for valid UTF-8 as it passes
    bool m_validUtf8 = true;
    QByteArray m_last; // the stream's last bytes, to see whether it ends mid-sequence
    bool m_failed = false;
    bool m_finished = false;
};

// The end of a text as UTF-8, at most maxBytes long and starting with a whole
// character: what is kept of a run's output once its log file is gone.
QByteArray outputTail(QStringView text, qsizetype maxBytes);

// The last `count` lines of a tool's output, control characters cleaned.
QStringList lastLines(QStringView text, int count);
// Of those, the last `count` that name a failure or an error: what a person
// wants to read first when a flash did not work. Empty when none does.
QStringList failureLines(QStringView text, int count);
