#include "settings/preferencesvalue.h"

#include <gtest/gtest.h>

#include <QLocale>

// A whole number of seconds from 0 to a day, "." as the decimal point in every locale.
TEST(ParseTimeoutSeconds, WholeSecondsInRangeInEveryLocale)
{
    const struct {
        const char *text;
        std::optional<int> seconds;
    } cases[] = {
        {"30", 30}, {" \t30\n", 30}, {"+5", 5}, {"0", 0}, {"-0", 0}, {"30.0", 30}, {"1e3", 1000}, {"86400", 86400},
        {"86401", {}}, {"-1", {}}, {"2.5", {}}, {"0.4", {}}, {"20s", {}}, {"abc", {}}, {"", {}}, {"1,5", {}},
        {"inf", {}}, {"nan", {}}, {"0x10", {}}, {"\uFF11\uFF15", {}}, {"99999999999999999999", {}},
    };
    const QLocale saved;
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        for (const auto &c : cases) {
            SCOPED_TRACE(c.text);
            EXPECT_EQ(parseTimeoutSeconds(QString::fromUtf8(c.text)), c.seconds) << locale.name().toStdString();
        }
    }
    QLocale::setDefault(saved);
}
