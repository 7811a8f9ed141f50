#include "tool/tooloutput.h"

#include "core/printable.h"

#include <QRegularExpression>

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include <sys/mman.h>

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
// Buffers that a flood fills in one go. A huge page is one fault where small
// pages take 512, and on a virtual machine each fault costs microseconds: for
// a 200 MB flood that was most of the run's time. Only advice: without
// transparent huge pages nothing changes.
constexpr qsizetype HugePage = 2 * 1024 * 1024;
void adviseHugePages(const void *data, qsizetype bytes)
{
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (at + HugePage - 1) & ~std::uintptr_t(HugePage - 1);
    const std::uintptr_t end = (at + std::uintptr_t(bytes)) & ~std::uintptr_t(HugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
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

void BoundedOutput::append(QByteArrayView chunk)
{
    if (chunk.isEmpty())
        return;
    m_received += chunk.size();
    if (m_ringUsed == 0 && m_head.size() < m_headLimit) {
        const qsizetype used = std::min(chunk.size(), m_headLimit - m_head.size());
        // A large output gets its whole head at once rather than by doubling.
        if (m_head.size() + used > HugePage && m_head.capacity() < m_headLimit) {
            m_head.reserve(m_headLimit);
            adviseHugePages(m_head.constData(), m_headLimit);
        }
        m_head.append(chunk.first(used));
        chunk = chunk.sliced(used);
        if (chunk.isEmpty())
            return;
    }
    const qsizetype capacity = m_tailLimit + 1;
    if (m_ring.isEmpty()) {
        m_ring.resize(capacity); // not touched yet, so it takes no memory until written
        adviseHugePages(m_ring.constData(), capacity);
    }
    if (chunk.size() > capacity)
        chunk = chunk.last(capacity);
    const qsizetype first = std::min(chunk.size(), capacity - m_ringNext);
    std::memcpy(m_ring.data() + m_ringNext, chunk.data(), size_t(first));
    std::memcpy(m_ring.data(), chunk.data() + first, size_t(chunk.size() - first));
    m_ringNext = (m_ringNext + chunk.size()) % capacity;
    m_ringUsed = std::min(capacity, m_ringUsed + chunk.size());
}

std::array<QByteArrayView, 3> BoundedOutput::pieces() const
{
    // The ring in the order received: it has wrapped once it is full.
    const QByteArrayView ring(m_ring.constData(), m_ringUsed);
    const bool wrapped = m_ringUsed > 0 && m_ringUsed == m_ring.size();
    std::array<QByteArrayView, 3> kept{QByteArrayView(m_head), wrapped ? ring.sliced(m_ringNext) : ring,
                                       wrapped ? ring.first(m_ringNext) : QByteArrayView()};
    if (!truncated())
        return kept;

    // Cut at line ends: a line missing its middle could otherwise read as a
    // version line that the tool never printed.
    kept[0] = kept[0].first(kept[0].lastIndexOf('\n') + 1);
    // The ring holds one byte before the kept end, which tells whether the
    // end starts a line; an end that holds no line start is dropped whole.
    for (qsizetype i = 1; i < 3; ++i) {
        const qsizetype lineBreak = kept[i].indexOf('\n');
        kept[i] = kept[i].sliced(lineBreak >= 0 ? lineBreak + 1 : kept[i].size());
        if (lineBreak >= 0)
            break;
    }
    return kept;
}

qsizetype BoundedOutput::keptSize() const
{
    qsizetype size = 0;
    for (const QByteArrayView piece : pieces())
        size += piece.size();
    return size;
}

QByteArray BoundedOutput::bytes() const
{
    QByteArray joined;
    joined.reserve(keptSize());
    for (const QByteArrayView piece : pieces())
        joined.append(piece);
    return joined;
}

QString BoundedOutput::text(OutputEncoding encoding) const
{
    const std::array<QByteArrayView, 3> kept = pieces();
    // ASCII reads the same in Latin-1, which needs no decoder state, so the
    // usual output is decoded piece by piece straight into one string.
    if (encoding == OutputEncoding::Utf8 && !std::all_of(kept.begin(), kept.end(), isAscii))
        return decodeToolOutput(bytes(), encoding);
    QString text;
    text.reserve(keptSize());
    adviseHugePages(text.constData(), text.capacity() * qsizetype(sizeof(QChar)));
    for (const QByteArrayView piece : kept)
        text.append(QLatin1StringView(piece));
    return text;
}

namespace {
QString logStem(ToolLogKind kind)
{
    return kind == ToolLogKind::Sync ? QStringLiteral("talvex_sync_") : QStringLiteral("talvex_upgrade_");
}
} // namespace

QString toolLogPattern(ToolLogKind kind, const QString &directory)
{
    return directory + QLatin1Char('/') + logStem(kind) + QStringLiteral("*.log");
}

ToolLogWriter::ToolLogWriter(ToolLogKind kind, const QString &directory)
    : m_utf8(strictUtf8())
{
    m_result.path = directory + QLatin1Char('/') + logStem(kind)
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".log");
    // The unfinished file sits beside its final name, so naming it is one
    // rename. Unbuffered: a full disk shows at the write that meets it.
    // Readable by its owner alone from the first byte, whatever the umask:
    // it names the user's dock and files, in a folder every user can list.
    m_file.setFileName(m_result.path + QStringLiteral(".part"));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner))
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
    m_result.ok = true;
    return m_result;
}

QByteArray outputTail(QStringView text, qsizetype maxBytes)
{
    // A character takes at least one byte: no more characters than bytes are needed.
    QByteArray tail = text.right(maxBytes).toUtf8();
    if (tail.size() <= maxBytes)
        return tail;
    tail = tail.right(maxBytes);
    qsizetype start = 0;
    while (start < tail.size() && (uchar(tail.at(start)) & 0xC0) == 0x80) // inside a character
        ++start;
    return tail.mid(start);
}

namespace {
QStringList outputLines(QStringView text)
{
    QStringList lines;
    for (QStringView line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (const QString cleaned = withoutControlCharacters(line.toString(), u"\t").trimmed(); !cleaned.isEmpty())
            lines << cleaned;
    }
    return lines;
}
} // namespace

QStringList lastLines(QStringView text, int count)
{
    const QStringList lines = outputLines(text);
    return lines.mid(qMax<qsizetype>(0, lines.size() - count));
}

QStringList failureLines(QStringView text, int count)
{
    QStringList lines = outputLines(text).filter(QRegularExpression(QStringLiteral("fail|error"),
                                                                      QRegularExpression::CaseInsensitiveOption));
    return lines.mid(qMax<qsizetype>(0, lines.size() - count));
}
