#include "tool/tooloutput.h"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
QStringDecoder strictUtf8(QStringDecoder::Flags extra = {})
{
    // A leading BOM is kept so the text is exactly what the tool printed.
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom | extra);
}
// Whether the last bytes of a stream, valid UTF-8 so far, stop inside a
// multi-byte sequence: the decoder would wait for more that never comes.
bool endsInsideSequence(const QByteArray &last)
{
    for (qsizetype i = last.size() - 1, continuations = 0; i >= 0; --i, ++continuations) {
        const uchar c = uchar(last.at(i));
        if ((c & 0xC0) == 0x80)
            continue;
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return continuations + 1 < length;
    }
    return false;
}
// No byte with the high bit set; eight bytes at a time.
bool isAscii(QByteArrayView bytes)
{
    quint64 any = 0;
    qsizetype at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        quint64 word;
        std::memcpy(&word, bytes.data() + at, 8);
        any |= word;
    }
    for (; at < bytes.size(); ++at)
        any |= uchar(bytes[at]);
    return (any & 0x8080808080808080ULL) == 0;
}
} // namespace

OutputEncoding encodingOf(const QByteArray &bytes)
{
    // Stateless: a sequence cut off at the very end is an error rather than
    // bytes held back for a next call that never comes.
    QStringDecoder utf8 = strictUtf8(QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // decoding happens on conversion
    Q_UNUSED(decoded);
    return utf8.hasError() ? OutputEncoding::Latin1 : OutputEncoding::Utf8;
}

QString decodeToolOutput(const QByteArray &bytes, OutputEncoding encoding)
{
    if (encoding == OutputEncoding::Latin1)
        return QString::fromLatin1(bytes);
    QStringDecoder utf8 = strictUtf8(QStringDecoder::Flag::Stateless);
    return utf8.decode(bytes);
}

BoundedOutput::BoundedOutput(qsizetype headLimit, qsizetype tailLimit)
    : m_headLimit(std::max<qsizetype>(headLimit, 0))
    , m_tailLimit(std::max<qsizetype>(tailLimit, 0))
{
}

void BoundedOutput::append(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    m_received += chunk.size();
    qsizetype used = 0;
    if (m_tailBytes == 0 && m_head.size() < m_headLimit) {
        used = std::min(chunk.size(), m_headLimit - m_head.size());
        m_head.append(chunk.constData(), used);
        if (used == chunk.size())
            return;
    }
    // Shared, not copied, when the whole piece goes to the tail.
    m_tail.append(used == 0 ? chunk : chunk.sliced(used));
    m_tailBytes += m_tail.last().size();
    // One byte more than the limit stays: it tells whether the kept end starts a line.
    while (m_tail.size() > 1 && m_tailBytes - m_tail.first().size() > m_tailLimit) {
        m_tailBytes -= m_tail.first().size();
        m_tail.removeFirst();
    }
}

QByteArray BoundedOutput::bytes() const
{
    QByteArray tail;
    tail.reserve(m_tailBytes);
    for (const QByteArray &chunk : m_tail)
        tail += chunk;
    if (!truncated())
        return m_head + tail;

    // Cut at line ends: a line missing its middle could otherwise read as a
    // version line that the tool never printed.
    const QByteArray head = m_head.first(m_head.lastIndexOf('\n') + 1);
    // The byte before the kept end, when still held, tells whether the end
    // starts a line; an end that holds no line start is dropped whole.
    if (tail.size() > m_tailLimit + 1)
        tail.remove(0, tail.size() - m_tailLimit - 1);
    const qsizetype firstBreak = tail.indexOf('\n');
    tail.remove(0, firstBreak >= 0 ? firstBreak + 1 : tail.size());
    return head + tail;
}

ToolLogWriter::ToolLogWriter(ToolLogKind kind, const QString &directory)
    : m_utf8(strictUtf8())
{
    const QString stem = kind == ToolLogKind::Sync ? QStringLiteral("talvex_sync_") : QStringLiteral("talvex_upgrade_");
    m_result.path = directory + QLatin1Char('/') + stem
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".log");
    // The unfinished file sits beside its final name, so naming it is one
    // rename. Unbuffered: a full disk shows at the write that meets it.
    m_file.setFileName(m_result.path + QStringLiteral(".part"));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        fail(m_file.errorString());
}

ToolLogWriter::~ToolLogWriter()
{
    if (!m_finished && !m_failed)
        m_file.remove();
}

bool ToolLogWriter::fail(const QString &error)
{
    if (!m_failed) {
        m_failed = true;
        m_result.error = error;
        m_file.remove();
    }
    return false;
}

void ToolLogWriter::append(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_validUtf8) {
        // Plain ASCII after a complete character, the usual output, is valid
        // UTF-8 without decoding.
        if (!isAscii(bytes) || endsInsideSequence(m_last)) {
            const QString decoded = m_utf8.decode(bytes);
            Q_UNUSED(decoded);
            m_validUtf8 = !m_utf8.hasError();
        }
        m_last = (m_last + bytes.last(std::min<qsizetype>(bytes.size(), 3)).toByteArray()).right(3);
    }
    // A write that fills the disk comes back short without an error; only
    // writing on gives the system's reason.
    for (qsizetype at = 0; !m_failed && at < bytes.size();) {
        const ssize_t n = ::write(m_file.handle(), bytes.data() + at, size_t(bytes.size() - at));
        if (n > 0)
            at += n;
        else if (n == 0 || errno != EINTR)
            fail(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO)));
    }
}

OutputEncoding ToolLogWriter::encoding() const
{
    return m_validUtf8 && !endsInsideSequence(m_last) ? OutputEncoding::Utf8 : OutputEncoding::Latin1;
}

ToolLogWrite ToolLogWriter::finish()
{
    m_finished = true;
    if (m_failed)
        return m_result;
    if (!m_file.rename(m_result.path)) {
        fail(m_file.errorString());
        return m_result;
    }
    // Readable like any other file the program writes, not just by its owner.
    QFile::setPermissions(m_result.path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                             | QFileDevice::ReadOther);
    m_result.ok = true;
    return m_result;
}
