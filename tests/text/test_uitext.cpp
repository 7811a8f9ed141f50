#include "text/uitext.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {
QString chinese(const UiText &text) { return QString::fromUtf8(text.chinese); }
QString english(const UiText &text) { return QString::fromUtf8(text.english); }
} // namespace

TEST(Catalogue, HasEveryPairWithMatchingPlaceholders)
{
    ASSERT_EQ(std::size(Ui::All), 27u);
    for (const UiText &text : Ui::All) {
        SCOPED_TRACE(text.english);
        EXPECT_FALSE(english(text).isEmpty());
        EXPECT_FALSE(chinese(text).isEmpty());
        EXPECT_EQ(english(text).count(QLatin1String("%@")), chinese(text).count(QLatin1String("%@")));
        // Chinese forms are Chinese, not copies of the English ones.
        EXPECT_TRUE(chinese(text).contains(QRegularExpression(QStringLiteral("\\p{Han}"))));
        EXPECT_FALSE(english(text).contains(QRegularExpression(QStringLiteral("[^\\x{20}-\\x{7e}]"))));
    }
}

TEST(Catalogue, ChinesePunctuationIsFullWidthOnlyWhereIntended)
{
    struct Case {
        UiText text;
        QString fullWidth; // the full-width marks the form must hold, in order
    };
    const Case cases[] = {
        {Ui::DoNotDisconnect, QStringLiteral("\uFF0C")},
        {Ui::TimeoutLabel, QStringLiteral("\uFF08\uFF0C\uFF09\uFF1A")},
        {Ui::ToolExitedAbnormally, QStringLiteral("\uFF01")},
        {Ui::UpgradeSuccessful, QStringLiteral("\uFF01")},
        {Ui::UpgradeFailedMessage, QStringLiteral("\uFF01")},
    };
    const QRegularExpression fullWidthMark(QStringLiteral("[\\x{FF01}-\\x{FF1F}]"));
    for (const UiText &text : Ui::All) {
        SCOPED_TRACE(text.english);
        QString found;
        for (const QChar c : chinese(text))
            if (fullWidthMark.match(QString(c)).hasMatch())
                found += c;
        QString expected;
        for (const Case &c : cases)
            if (c.text.english == text.english)
                expected = c.fullWidth;
        EXPECT_EQ(found, expected);
    }
    // The exceptions that keep ASCII marks, and the spaces around placeholders.
    EXPECT_TRUE(chinese(Ui::ConfirmToStart).endsWith(QLatin1Char('?')));
    EXPECT_EQ(chinese(Ui::SelectBinFile), QStringLiteral("请选择一个 .bin 固件文件"));
    EXPECT_EQ(fillPlaceholder(chinese(Ui::Quit), QStringLiteral("quorvale")), QStringLiteral("退出 quorvale"));
    EXPECT_EQ(fillPlaceholder(chinese(Ui::FailedToLaunch), QStringLiteral("No such file")),
              QStringLiteral("无法启动升级工具: No such file"));
    EXPECT_EQ(fillPlaceholder(english(Ui::Quit), QStringLiteral("a%@b")), QStringLiteral("Quit a%@b"));
}

TEST(LanguageRule, FirstTagOnlyCaseSensitivePrefix)
{
    struct Case {
        const char *name;
        QStringList languages;
        bool chinese;
    };
    const Case cases[] = {
        {"traditional first", {"zh-Hant-TW", "en-US"}, true},
        {"simplified first", {"zh-Hans-CN"}, true},
        {"bare zh", {"zh"}, true},
        {"english then chinese", {"en-US", "zh-Hans-CN"}, false},
        {"empty list", {}, false},
        {"upper case tag", {"ZH-CN"}, false},
        {"empty first tag", {"", "zh-CN"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isChineseLanguageList(c.languages), c.chinese);
    }
}

// Run by ctest under several LANGUAGE/LC_ALL/LANG settings.
TEST(LocaleFromEnvironment, MatchesExpectation)
{
    const QByteArray expected = qgetenv("QUORVALE_EXPECT_CHINESE");
    if (expected.isEmpty())
        GTEST_SKIP() << "run through ctest with an environment case";
    EXPECT_EQ(isChineseLocale(), expected == "1");
    EXPECT_EQ(Ui::Vendor.text(), expected == "1" ? QStringLiteral("制造商") : QStringLiteral("Vendor"));
}
