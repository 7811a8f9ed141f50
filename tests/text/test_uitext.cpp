#include "text/uitext.h"

#include <gtest/gtest.h>

#include <QFile>

#include <utility>

// The catalogue word for word, in order, as catalogue.tsv lists the pairs
// (a line break inside a text written as \n; make_catalogue.py writes it).
TEST(Catalogue, EveryPairExactly)
{
    QFile file(QStringLiteral(CATALOGUE_TSV));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> expected = file.readAll().trimmed().split('\n');
    ASSERT_EQ(std::size(Ui::All), std::size(expected));
    for (std::size_t i = 0; i < std::size(Ui::All); ++i)
        EXPECT_EQ(QByteArray(QByteArray(Ui::All[i].english) + '\t' + Ui::All[i].chinese).replace("\n", "\\n"),
                  expected[qsizetype(i)]);
    // A value is put in as it is, even one that looks like a placeholder.
    EXPECT_EQ(fillPlaceholders(QString::fromUtf8(Ui::Quit.chinese), {QStringLiteral("a%@b")}), QStringLiteral("退出 a%@b"));
    EXPECT_EQ(fillPlaceholders(QString::fromUtf8(Ui::FailedToLaunch.chinese), {QStringLiteral("No such file")}),
              QStringLiteral("无法启动升级工具: No such file"));
    EXPECT_EQ(fillPlaceholders(QString::fromUtf8(Ui::ImageUnreadable.english), {QStringLiteral("/a%@.bin"), QStringLiteral("I/O error")}),
              QStringLiteral("The file /a%@.bin cannot be read: I/O error"));
}

// Only the first tag counts, and only a lower-case "zh" at its start. The
// environment cases in CMakeLists.txt try the usual orders of languages.
TEST(LanguageRule, FirstTagOnlyCaseSensitivePrefix)
{
    const std::pair<QStringList, bool> cases[] = {
        {{"zh-Hans-CN"}, true}, {{"zh"}, true}, {{}, false}, {{"ZH-CN"}, false}, {{"", "zh-CN"}, false},
    };
    for (const auto &[languages, chinese] : cases)
        EXPECT_EQ(isChineseLanguageList(languages), chinese) << languages.join(QLatin1Char(',')).toStdString();
}

// Run by ctest under several LANGUAGE/LC_ALL/LANG settings.
TEST(LocaleFromEnvironment, MatchesExpectation)
{
    const QByteArray expected = qgetenv("QUORVALE_EXPECT_CHINESE");
    if (expected.isEmpty())
        GTEST_SKIP() << "run through ctest with an environment case";
    // The case's whole environment arrived, and nothing else of the locale's.
    QStringList seen;
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        if (qEnvironmentVariableIsSet(name))
            seen << QLatin1String(name) + QLatin1Char('=') + qEnvironmentVariable(name);
    EXPECT_EQ(seen.join(QLatin1Char(',')), qEnvironmentVariable("QUORVALE_EXPECT_ENV"));
    EXPECT_EQ(isChineseLocale(), expected == "1");
    EXPECT_EQ(Ui::Vendor.text(), expected == "1" ? QStringLiteral("制造商") : QStringLiteral("Vendor"));
}
