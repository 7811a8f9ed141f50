#include "tool/tooloutput.h"

#include "qtprint.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

// Each case is fed whole, in 5-byte pieces and byte by byte: the result must not change.
TEST(BoundedOutput, Cases)
{
    const struct { const char *name; qsizetype headLimit, tailLimit; QByteArray input, expected; bool truncated; }
    cases[] = {
        {"UnderLimitKeptWhole", 8, 8, "abc\ndef\n", "abc\ndef\n", false},
        {"ExactlyAtLimitKeptWhole", 8, 8, "aaa\nbbb\nccc\nddd\n", "aaa\nbbb\nccc\nddd\n", false},
        {"MiddleDroppedAtLineEnds", 8, 8, "head1\nhead2\nmid1\nmid2\ntail1\ntail2\n", "head1\ntail2\n", true},
        {"HeadWithoutLineBreakDropped", 4, 4, "abcdefghij\nkl\n", "kl\n", true},
        {"VersionAtEndSurvives", 16, 40,
         "line one\n" + QByteArray(100, 'x') + "\n" + QByteArray(100, 'y') + "\nComposite dock image version: 1.0.3\n",
         "line one\nComposite dock image version: 1.0.3\n", true},
    };
    for (const auto &c : cases) {
        for (const qsizetype piece : {c.input.size(), qsizetype(5), qsizetype(1)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            BoundedOutput output(c.headLimit, c.tailLimit);
            for (qsizetype at = 0; at < c.input.size(); at += piece)
                output.append(c.input.mid(at, piece));
            EXPECT_EQ(output.bytes(), c.expected);
            EXPECT_EQ(output.truncated(), c.truncated);
        }
    }
}

TEST(WriteToolLog, WritesWholeTextUnderUniqueName)
{
    const std::tuple<ToolLogKind, const char *, QString> cases[] = {
        {ToolLogKind::Sync, "talvex_sync_", QStringLiteral("Versi\u00f3n \u56fa\u4ef6 \u2028end\n")},
        {ToolLogKind::Upgrade, "talvex_upgrade_", QStringLiteral("Firmware update completed\n")},
    };
    for (const auto &[kind, stem, text] : cases) {
        SCOPED_TRACE(stem);
        QTemporaryDir dir;
        const ToolLogWrite first = writeToolLog(kind, text, dir.path());
        const ToolLogWrite second = writeToolLog(kind, text, dir.path());
        ASSERT_TRUE(first.ok && second.ok) << first.error.toStdString();
        EXPECT_NE(first.path, second.path);
        const QRegularExpression name(QStringLiteral("^%1/%2[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.log$")
                                          .arg(QRegularExpression::escape(dir.path()), QLatin1String(stem)));
        EXPECT_TRUE(name.match(first.path).hasMatch()) << first.path.toStdString();
        QFile file(first.path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), text.toUtf8());
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file left
    }
}

TEST(WriteToolLog, ReportsFailureWithReason)
{
    QTemporaryDir dir;
    const ToolLogWrite result = writeToolLog(ToolLogKind::Sync, QStringLiteral("x"), dir.filePath(QStringLiteral("none")));
    EXPECT_TRUE(!result.ok && !result.error.isEmpty());
    EXPECT_TRUE(result.path.startsWith(dir.filePath(QStringLiteral("none/talvex_sync_")))) << result.path.toStdString();
}

} // namespace
