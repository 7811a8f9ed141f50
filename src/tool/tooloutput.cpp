#include "tool/tooloutput.h"

#include <QSaveFile>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>

QString decodeToolOutput(const QByteArray &bytes)
{
    // Stateless: a sequence cut off at the very end is an error rather than
    // bytes held back for a next call that never comes. A leading BOM is kept
    // so the saved log holds exactly what the tool printed.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
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
    m_tail.append(used == 0 ? chunk : chunk.mid(used));
    m_tailBytes += m_tail.last().size();
    while (m_tail.size() > 1 && m_tailBytes - m_tail.first().size() >= m_tailLimit) {
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
    if (tail.size() > m_tailLimit)
        tail.remove(0, tail.size() - m_tailLimit);
    const qsizetype firstBreak = tail.indexOf('\n');
    if (firstBreak >= 0)
        tail.remove(0, firstBreak + 1);
    return head + tail;
}

ToolLogWrite writeToolLog(ToolLogKind kind, const QString &text, const QString &directory)
{
    const QString stem = kind == ToolLogKind::Sync ? QStringLiteral("talvex_sync_") : QStringLiteral("talvex_upgrade_");
    ToolLogWrite result;
    result.path = directory + QLatin1Char('/') + stem + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
        + QStringLiteral(".log");

    QSaveFile file(result.path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        result.error = file.errorString();
        file.cancelWriting();
        return result;
    }
    result.ok = true;
    return result;
}
