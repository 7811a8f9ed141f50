#include "tool/tooloutput.h"

#include "qtprint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char *name;
    QByteArray bytes;
    QString expected;
};

const DecodeCase DecodeCases[] = {
    {"Ascii", QByteArrayLiteral("Composite dock image version: 1.0.3\n"),
     QStringLiteral("Composite dock image version: 1.0.3\n")},
    {"Utf8", QByteArrayLiteral("\xe5\x9b\xba\xe4\xbb\xb6\xe7\x89\x88\xe6\x9c\xac: 1.0.3 \xe2\x80\x94 ok\n"),
     QStringLiteral("\u56fa\u4ef6\u7248\u672c: 1.0.3 \u2014 ok\n")},
    {"LeadingBomKept", QByteArrayLiteral("\xef\xbb\xbfok"), QStringLiteral("\ufeffok")},
    {"NulBytesKept", QByteArray("a\0b", 3), QStringView(u"a\0b", 3).toString()},
    {"Latin1Fallback", QByteArrayLiteral("Versi\xf3n del firmware le\xed" "da\n"),
     QStringLiteral("Versi\u00f3n del firmware le\u00edda\n")},
    // One bad byte turns the whole output into Latin-1, valid UTF-8 parts too.
    {"MixedFallsBackWhole", QByteArrayLiteral("\xc3\xa9 \xff"), QStringLiteral("\u00c3\u00a9 \u00ff")},
    {"SequenceCutAtEnd", QByteArrayLiteral("cut \xe2\x82"), QStringLiteral("cut \u00e2\u0082")},
    {"EncodedSurrogate", QByteArrayLiteral("\xed\xa0\x80"), QStringLiteral("\u00ed\u00a0\u0080")},
    {"OverlongSlash", QByteArrayLiteral("\xc0\xaf"), QStringLiteral("\u00c0\u00af")},
    {"Empty", QByteArray(), QString()},
};

TEST(DecodeToolOutput, Cases)
{
    for (const DecodeCase &c : DecodeCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeToolOutput(c.bytes), c.expected);
    }
}

struct BoundedCase {
    const char *name;
    qsizetype headLimit;
    qsizetype tailLimit;
    QList<QByteArray> chunks;
    QByteArray expected;
    bool truncated;
};

const BoundedCase BoundedCases[] = {
    {"UnderLimitKeptWhole", 8, 8, {"abc\n", "def\n"}, "abc\ndef\n", false},
    {"ExactlyAtLimitKeptWhole", 8, 8, {"aaa\nbbb\n", "ccc\nddd\n"}, "aaa\nbbb\nccc\nddd\n", false},
    {"ChunkSpanningHeadAndTail", 6, 6, {"aa\nbb\ncc\n", "dd\n"}, "aa\nbb\ncc\ndd\n", false},
    {"MiddleDroppedAtLineEnds", 8, 8, {"head1\nhead2\n", "mid1\nmid2\n", "tail1\ntail2\n"}, "head1\ntail2\n", true},
    {"ByteByByte", 8, 8,
     {"h", "e", "a", "d", "1", "\n", "h", "e", "a", "d", "2", "\n", "m", "\n", "t", "a", "i", "l", "1", "\n", "v", "9", "\n"},
     "head1\nv9\n", true},
    {"HeadWithoutLineBreakDropped", 4, 4, {"abcdefgh", "ij\nkl\n"}, "kl\n", true},
    {"VersionAtEndSurvives", 16, 40,
     {"line one\n" + QByteArray(100, 'x') + "\n", QByteArray(100, 'y') + "\n", "Composite dock image version: 1.0.3\n"},
     "line one\nComposite dock image version: 1.0.3\n", true},
};

TEST(BoundedOutput, Cases)
{
    for (const BoundedCase &c : BoundedCases) {
        SCOPED_TRACE(c.name);
        BoundedOutput output(c.headLimit, c.tailLimit);
        for (const QByteArray &chunk : c.chunks)
            output.append(chunk);
        EXPECT_EQ(output.bytes(), c.expected);
        EXPECT_EQ(output.truncated(), c.truncated);
    }
}

struct LogWriteCase {
    const char *name;
    ToolLogKind kind;
    const char *stem;
    QString text;
};

const LogWriteCase LogWriteCases[] = {
    {"Sync", ToolLogKind::Sync, "talvex_sync_", QStringLiteral("Composite dock image version: 1.0.3\n")},
    {"Upgrade", ToolLogKind::Upgrade, "talvex_upgrade_",
     QStringLiteral("Writing block 8/8 (100%)\nFirmware update completed\n")},
    {"NonAsciiSavedAsUtf8", ToolLogKind::Sync, "talvex_sync_", QStringLiteral("Versi\u00f3n \u56fa\u4ef6 \u2028end")},
    {"EmptyOutput", ToolLogKind::Sync, "talvex_sync_", QString()},
};

TEST(WriteToolLog, WritesWholeTextUnderUniqueName)
{
    for (const LogWriteCase &c : LogWriteCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const ToolLogWrite first = writeToolLog(c.kind, c.text, dir.path());
        const ToolLogWrite second = writeToolLog(c.kind, c.text, dir.path());
        ASSERT_TRUE(first.ok) << first.error.toStdString();
        ASSERT_TRUE(second.ok);
        EXPECT_NE(first.path, second.path);

        const QRegularExpression name(QStringLiteral("^%1[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.log$")
                                          .arg(QLatin1String(c.stem)));
        EXPECT_EQ(QFileInfo(first.path).absolutePath(), dir.path());
        EXPECT_TRUE(name.match(QFileInfo(first.path).fileName()).hasMatch()) << first.path.toStdString();

        QFile file(first.path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.text.toUtf8());
        // Nothing but the two logs: no temporary left behind by the atomic write.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

TEST(WriteToolLog, ReportsFailureWithReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("no-such-dir"));
    const ToolLogWrite result = writeToolLog(ToolLogKind::Sync, QStringLiteral("x"), missing);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_TRUE(result.path.startsWith(missing + QStringLiteral("/talvex_sync_")));
    EXPECT_FALSE(QFileInfo::exists(result.path));
}

} // namespace
