#include "tool/tooloutput.h"

#include "tooltest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>

namespace {

TEST(DecodeToolOutput, Cases)
{
    const struct { const char *name; QByteArray bytes; QString expected; } cases[] = {
        {"Utf8", "\xe5\x9b\xba\xe4\xbb\xb6 1.0.3 \xe2\x80\x94\n", QStringLiteral("\u56fa\u4ef6 1.0.3 \u2014\n")},
        {"LeadingBomKept", "\xef\xbb\xbfok", QStringLiteral("\ufeffok")},
        {"NulBytesKept", QByteArray("a\0b", 3), QStringView(u"a\0b", 3).toString()},
        {"Latin1Fallback", "Versi\xf3n le\xed" "da\n", QStringLiteral("Versi\u00f3n le\u00edda\n")},
        {"MixedFallsBackWhole", "\xc3\xa9 \xff", QStringLiteral("\u00c3\u00a9 \u00ff")}, // valid UTF-8 parts too
        {"SequenceCutAtEnd", "cut \xe2\x82", QStringLiteral("cut \u00e2\u0082")},
        {"OverlongAndSurrogate", "\xc0\xaf \xed\xa0\x80", QStringLiteral("\u00c0\u00af \u00ed\u00a0\u0080")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeToolOutput(c.bytes), c.expected);
    }
}

// Each case is fed whole, in 5-byte pieces and byte by byte: the result must not change,
// nor its text, decoded from the kept pieces as if from the joined bytes.
TEST(BoundedOutput, Cases)
{
    const struct { const char *name; qsizetype headLimit, tailLimit; QByteArray input, expected; bool truncated; }
    cases[] = {
        {"ExactlyAtLimitKeptWhole", 8, 8, "aaa\nbbb\nccc\nddd\n", "aaa\nbbb\nccc\nddd\n", false},
        {"MiddleDroppedAtLineEnds", 8, 8, "head1\nhead2\nmid1\nmid2\ntail1\ntail2\n", "head1\ntail2\n", true},
        {"HeadWithoutLineBreakDropped", 4, 4, "abcdefghij\nkl\n", "kl\n", true},
        {"TailWithoutLineBreakDropped", 4, 4, "ab\ncdefghij", "ab\n", true},
        {"VersionAtEndSurvives", 16, 40,
         "line one\n" + QByteArray(100, 'x') + "\n" + QByteArray(100, 'y') + "\nComposite dock image version: 1.0.3\n",
         "line one\nComposite dock image version: 1.0.3\n", true},
        {"TailLimitAtLineStart", 4, 36, "one\n" + QByteArray(50, 'x') + "\nComposite dock image version: 1.0.3\n",
         "one\nComposite dock image version: 1.0.3\n", true},
        {"NonAsciiEndKeptWhole", 4, 6, "ab\ncdefgh\n\xc3\xa9z\n", "ab\n\xc3\xa9z\n", true},
    };
    for (const auto &c : cases) {
        for (const qsizetype piece : {c.input.size(), qsizetype(5), qsizetype(1)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            BoundedOutput output(c.headLimit, c.tailLimit);
            for (qsizetype at = 0; at < c.input.size(); at += piece)
                output.append(c.input.mid(at, piece));
            EXPECT_EQ(output.bytes(), c.expected);
            EXPECT_EQ(output.truncated(), c.truncated);
            for (const OutputEncoding encoding : {OutputEncoding::Utf8, OutputEncoding::Latin1})
                EXPECT_EQ(output.text(encoding), decodeToolOutput(c.expected, encoding));
        }
    }
}

// The permission bits of a file, or -1 when it cannot be looked at.
int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The output is fed in pieces that split multi-byte characters; the file must
// hold all of it, byte for byte, whatever its encoding. It names the user's
// dock and files: only its owner may read it, from its first byte on, even
// under a umask that lets everyone read.
TEST(ToolLogWriter, SavesWholeOutputUnderUniqueName)
{
    const mode_t umaskBefore = ::umask(0);
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
    const struct { const char *stem; ToolLogKind kind; QByteArray output; OutputEncoding encoding; } cases[] = {
        {"talvex_sync_", ToolLogKind::Sync, "Versi\xc3\xb3n \xe5\x9b\xba\xe4\xbb\xb6 \xe2\x80\xa8" "end\n",
         OutputEncoding::Utf8},
        {"talvex_upgrade_", ToolLogKind::Upgrade, "Versi\xf3n le\xed" "da\xff\xfe\n", OutputEncoding::Latin1},
        {"talvex_sync_", ToolLogKind::Sync, "cut \xe2\x82", OutputEncoding::Latin1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.output.toStdString());
        QTemporaryDir dir;
        ToolLogWriter writer(c.kind, dir.path());
        for (qsizetype at = 0; at < c.output.size(); at += 3)
            writer.append(QByteArrayView(c.output).sliced(at, std::min<qsizetype>(3, c.output.size() - at)));
        EXPECT_EQ(writer.encoding(), c.encoding);
        const QStringList unfinished = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        ASSERT_EQ(unfinished.size(), 1);
        EXPECT_EQ(modeOf(dir.filePath(unfinished[0])), 0600) << unfinished[0].toStdString();
        const ToolLogWrite first = writer.finish();
        const ToolLogWrite second = ToolLogWriter(c.kind, dir.path()).finish();
        ASSERT_TRUE(first.ok && second.ok) << first.error.toStdString();
        EXPECT_NE(first.path, second.path);
        const QRegularExpression name(QStringLiteral("^%1/%2[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.log$")
                                          .arg(QRegularExpression::escape(dir.path()), QLatin1String(c.stem)));
        EXPECT_TRUE(name.match(first.path).hasMatch()) << first.path.toStdString();
        EXPECT_EQ(readFile(first.path), c.output);
        EXPECT_EQ(modeOf(first.path), 0600);
        EXPECT_EQ(modeOf(second.path), 0600);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // nothing half-written left
    }
}

// A directory that cannot take the file fails with a reason and leaves nothing;
// so does a writer dropped before it finished.
TEST(ToolLogWriter, FailsWithReasonAndLeavesNothing)
{
    QTemporaryDir dir;
    ToolLogWriter missing(ToolLogKind::Sync, dir.filePath(QStringLiteral("none")));
    missing.append("x");
    const ToolLogWrite result = missing.finish();
    EXPECT_TRUE(!result.ok && !result.error.isEmpty());
    EXPECT_TRUE(result.path.startsWith(dir.filePath(QStringLiteral("none/talvex_sync_")))) << result.path.toStdString();
    {
        ToolLogWriter dropped(ToolLogKind::Upgrade, dir.path());
        dropped.append("partial");
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden));
}

} // namespace
