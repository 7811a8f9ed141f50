#include "tool/upgradeoutcome.h"

#include <QLatin1StringView>

#include <algorithm>
#include <cstring>

namespace {

constexpr QLatin1StringView FailurePhrase("firmware update failed");
// Wordings of a finished install across tool releases.
constexpr QLatin1StringView SuccessPhrases[] = {
    QLatin1StringView("firmware install (phase-1) completed"),
    QLatin1StringView("firmware update successful"),
    QLatin1StringView("firmware update completed"),
    QLatin1StringView("firmware install completed"),
};
constexpr qsizetype LongestPhrase = 36; // "firmware install (phase-1) completed"

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

} // namespace

UpgradePhrases findUpgradePhrases(const QString &output)
{
    UpgradePhrases found;
    found.failure = output.contains(FailurePhrase, Qt::CaseInsensitive);
    found.success = std::any_of(std::begin(SuccessPhrases), std::end(SuccessPhrases),
                                [&](QLatin1StringView phrase) { return output.contains(phrase, Qt::CaseInsensitive); });
    return found;
}

void UpgradePhraseScanner::scan(QByteArrayView text, qsizetype starts)
{
    // Every phrase starts with "firmware": look at each f or F and compare what
    // follows, ignoring letter case. memchr keeps this fast on large output.
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    const auto matches = [end](const char *at, QLatin1StringView phrase) {
        if (end - at < phrase.size())
            return false;
        for (qsizetype i = 0; i < phrase.size(); ++i) {
            if (asciiLower(at[i]) != phrase[i].toLatin1())
                return false;
        }
        return true;
    };
    for (const char letter : {'f', 'F'}) {
        for (const char *at = begin; (at = static_cast<const char *>(std::memchr(at, letter, size_t(starts - (at - begin)))));
             ++at) {
            m_found.failure = m_found.failure || matches(at, FailurePhrase);
            m_found.success = m_found.success
                || std::any_of(std::begin(SuccessPhrases), std::end(SuccessPhrases),
                               [&](QLatin1StringView phrase) { return matches(at, phrase); });
        }
    }
}

void UpgradePhraseScanner::feed(QByteArrayView chunk)
{
    if (chunk.isEmpty() || (m_found.failure && m_found.success))
        return;
    // A phrase begun at the end of the last piece: only the joint is copied.
    if (!m_carry.isEmpty()) {
        const QByteArray joint = m_carry + chunk.first(std::min(chunk.size(), LongestPhrase - 1)).toByteArray();
        scan(joint, m_carry.size());
    }
    scan(chunk, chunk.size());
    m_carry = (m_carry + chunk.last(std::min(chunk.size(), LongestPhrase - 1)).toByteArray()).right(LongestPhrase - 1);
}

UpgradeVerdict classifyUpgrade(UpgradePhrases phrases, int exitStatus, ExitKind kind)
{
    if (exitStatus != 0 || kind != ExitKind::Normal)
        return UpgradeVerdict::AbnormalEnd;
    // A failure report wins even when a success line came before it, e.g. a
    // first phase that completed and a second that did not.
    if (phrases.failure)
        return UpgradeVerdict::Failed;
    if (phrases.success)
        return UpgradeVerdict::Success;
    return UpgradeVerdict::Failed;
}
