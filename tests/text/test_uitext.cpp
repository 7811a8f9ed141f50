#include "text/uitext.h"

#include <gtest/gtest.h>

#include <utility>

// The catalogue word for word, in order. Full-width marks are written as
// escapes so that they cannot be mistaken for ASCII ones.
TEST(Catalogue, EveryPairExactly)
{
    const std::pair<const char *, const char *> expected[] = {
        {"Vendor", "制造商"},
        {"Product", "产品"},
        {"FWVersion", "固件版本"},
        {"Preferences", "偏好设置"},
        {"Quit %@", "退出 %@"},
        {"Copy Device Info", "复制设备信息"},
        {"Upgrade Firmware", "升级固件"},
        {"Select Firmware File", "选择固件文件"},
        {"Please select a .bin firmware file", "请选择一个 .bin 固件文件"},
        {"Unknown", "未知"},
        {"Device", "设备"},
        {"File", "文件"},
        {"Confirm to start firmware upgrade?", "确认开始升级固件?"},
        {"Confirm Firmware Upgrade", "确认升级固件"},
        {"Confirm Upgrade", "确认升级"},
        {"Cancel", "取消"},
        {"Firmware Updating", "升级固件中"},
        {"Upgrading firmware, do not disconnect USB device", "正在升级固件\uFF0C请勿断开USB设备"},
        {"Upgrade timeout (seconds, 0 to disable):", "升级超时\uFF08秒\uFF0C0 表示禁用\uFF09\uFF1A"},
        {"Save", "保存"},
        {"Upgrade tool exited abnormally!", "升级工具异常退出\uFF01"},
        {"Firmware upgrade successful!", "固件升级成功\uFF01"},
        {"Firmware upgrade failed!", "固件升级失败\uFF01"},
        {"Upgrade Success", "升级成功"},
        {"Upgrade Failed", "升级失败"},
        {"Failed to launch upgrade tool: %@", "无法启动升级工具: %@"},
        {"OK", "确定"},
        {"Docks", "扩展坞"},
        {"Upgrade progress", "升级进度"},
    };
    ASSERT_EQ(std::size(Ui::All), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_STREQ(Ui::All[i].english, expected[i].first);
        EXPECT_STREQ(Ui::All[i].chinese, expected[i].second);
    }
    // A value is put in as it is, even one that looks like a placeholder.
    EXPECT_EQ(fillPlaceholder(QString::fromUtf8(Ui::Quit.chinese), QStringLiteral("a%@b")), QStringLiteral("退出 a%@b"));
    EXPECT_EQ(fillPlaceholder(QString::fromUtf8(Ui::FailedToLaunch.chinese), QStringLiteral("No such file")),
              QStringLiteral("无法启动升级工具: No such file"));
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
