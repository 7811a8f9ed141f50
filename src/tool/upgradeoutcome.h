#pragma once

#include "core/upgradeverdict.h"

#include <QByteArray>
#include <QString>

// How a tool's process ended. Stopped: this program stopped it when a limit
// ran out, whatever the tool printed or returned on its way out.
enum class ExitKind { Normal, Signal, Stopped };

// What the tool said about the flash, in any letter case.
struct UpgradePhrases {
    bool failure = false; // "Firmware update failed"
    bool success = false; // one of the wordings of a finished install
};

UpgradePhrases findUpgradePhrases(const QString &output);

// Finds the same phrases in output that arrives in pieces, so that output too
// large to keep in memory is still judged on every byte. The phrases are
// ASCII, which reads the same in UTF-8 and in Latin-1, so the bytes need no
// decoding.
class UpgradePhraseScanner {
public:
    void feed(QByteArrayView chunk);
    UpgradePhrases found() const { return m_found; }

private:
    // Looks for phrases that start in the first `starts` bytes of the text.
    void scan(QByteArrayView text, qsizetype starts);

    QByteArray m_carry; // the end of the last piece, for phrases across pieces
    UpgradePhrases m_found;
};

// Judges an upgrade run from what the tool printed and how it ended. The tool
// may exit 0 after a failed flash, so its words decide once the exit was clean.
UpgradeVerdict classifyUpgrade(UpgradePhrases phrases, int exitStatus, ExitKind kind);
inline UpgradeVerdict classifyUpgrade(const QString &output, int exitStatus, ExitKind kind)
{
    return classifyUpgrade(findUpgradePhrases(output), exitStatus, kind);
}
