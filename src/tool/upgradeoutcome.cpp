#include "tool/upgradeoutcome.h"

#include "text/uitext.h"

#include <QLatin1StringView>

#include <algorithm>

namespace {

constexpr QLatin1StringView FailurePhrase("firmware update failed");
// Wordings of a finished install across tool releases.
constexpr QLatin1StringView SuccessPhrases[] = {
    QLatin1StringView("firmware install (phase-1) completed"),
    QLatin1StringView("firmware update successful"),
    QLatin1StringView("firmware update completed"),
    QLatin1StringView("firmware install completed"),
};
constexpr QLatin1StringView CommonStart("firmware ");
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

void UpgradePhraseScanner::feed(QByteArrayView chunk)
{
    if (chunk.isEmpty() || (m_found.failure && m_found.success))
        return;
    const qsizetype carried = m_window.size();
    m_window.resize(carried + chunk.size());
    std::transform(chunk.begin(), chunk.end(), m_window.begin() + carried, asciiLower);

    // Every phrase starts with "firmware ": find that, then look at what follows.
    const QByteArrayView text(m_window);
    for (qsizetype at = text.indexOf(CommonStart); at >= 0; at = text.indexOf(CommonStart, at + 1)) {
        const QByteArrayView rest = text.sliced(at);
        const auto startsWith = [&](QLatin1StringView phrase) { return rest.startsWith(QByteArrayView(phrase)); };
        m_found.failure = m_found.failure || startsWith(FailurePhrase);
        m_found.success = m_found.success || std::any_of(std::begin(SuccessPhrases), std::end(SuccessPhrases), startsWith);
    }
    // Keep just enough of the end for a phrase that the next piece completes.
    m_window.remove(0, std::max<qsizetype>(0, m_window.size() - (LongestPhrase - 1)));
}

UpgradeOutcome classifyUpgrade(UpgradePhrases phrases, int exitStatus, ExitKind kind)
{
    if (exitStatus != 0 || kind == ExitKind::Signal)
        return {false, Ui::ToolExitedAbnormally.text()};
    // A failure report wins even when a success line came before it, e.g. a
    // first phase that completed and a second that did not.
    if (phrases.failure)
        return {false, Ui::UpgradeFailedMessage.text()};
    if (phrases.success)
        return {true, Ui::UpgradeSuccessful.text()};
    return {false, Ui::UpgradeFailedMessage.text()};
}

QString verdictLogLine(const UpgradeOutcome &outcome)
{
    return QStringLiteral("[Upgrade] Success: ") + (outcome.success ? QStringLiteral("YES") : QStringLiteral("NO"))
        + QStringLiteral(", Message: ") + outcome.message;
}
