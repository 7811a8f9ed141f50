#include "tool/versionparse.h"

#include <QRegularExpression>
#include <QStringView>

namespace {

// The tool's usual wording. Unicode-aware so that any blank a locale puts
// between the words (a no-break space, say) counts like a plain space.
const QRegularExpression &versionPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(Composite\s*dock\s*image\s*version\s*[:\t\s-]*([0-9]+(?:\.[0-9]+)*))re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

bool isLineBreak(char16_t c)
{
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

bool isWordBreak(char16_t c)
{
    return c == u'\t' || QChar::category(char32_t(c)) == QChar::Separator_Space;
}

// Code point at i, reading a surrogate pair as one character so that
// punctuation and digits outside the BMP are judged like any other.
char32_t codePointAt(QStringView s, qsizetype i)
{
    const QChar c = s.at(i);
    if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(c, s.at(i + 1));
    return c.unicode();
}

char32_t codePointBefore(QStringView s, qsizetype end)
{
    const QChar c = s.at(end - 1);
    if (c.isLowSurrogate() && end >= 2 && s.at(end - 2).isHighSurrogate())
        return QChar::surrogateToUcs4(s.at(end - 2), c);
    return c.unicode();
}

QStringView stripPunctuation(QStringView word)
{
    while (!word.isEmpty()) {
        const char32_t c = codePointAt(word, 0);
        if (!QChar::isPunct(c))
            break;
        word = word.mid(QChar::requiresSurrogates(c) ? 2 : 1);
    }
    while (!word.isEmpty()) {
        const char32_t c = codePointBefore(word, word.size());
        if (!QChar::isPunct(c))
            break;
        word.chop(QChar::requiresSurrogates(c) ? 2 : 1);
    }
    return word;
}

bool looksLikeVersion(QStringView word)
{
    for (qsizetype i = 0; i < word.size();) {
        const char32_t c = codePointAt(word, i);
        if (c == U'.' || QChar::category(c) == QChar::Number_DecimalDigit)
            return true;
        i += QChar::requiresSurrogates(c) ? 2 : 1;
    }
    return false;
}

// The last number-like word of the line, if any.
std::optional<QString> versionFromLine(QStringView line)
{
    qsizetype end = line.size();
    for (qsizetype i = line.size(); i >= 0; --i) {
        if (i > 0 && !isWordBreak(line.at(i - 1).unicode()))
            continue;
        const QStringView word = stripPunctuation(line.sliced(i, end - i));
        if (looksLikeVersion(word))
            return word.toString();
        end = i - 1;
    }
    return std::nullopt;
}

bool isCandidateLine(QStringView line)
{
    const QString lower = line.toString().toLower();
    return lower.contains(QLatin1String("composite")) && lower.contains(QLatin1String("version"));
}

std::optional<QString> versionFromLines(const QString &output)
{
    const QStringView all(output);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= all.size(); ++i) {
        if (i < all.size() && !isLineBreak(all.at(i).unicode()))
            continue;
        const QStringView line = all.sliced(start, i - start);
        start = i + 1;
        if (!isCandidateLine(line))
            continue;
        if (std::optional<QString> version = versionFromLine(line))
            return version;
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> extractFirmwareVersion(const QString &output)
{
    const QRegularExpressionMatch match = versionPattern().match(output);
    if (match.hasMatch())
        return match.captured(1);
    return versionFromLines(output);
}
