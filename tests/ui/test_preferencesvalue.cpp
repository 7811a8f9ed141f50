#include "ui/preferencesvalue.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>

TEST(ParseDoubleValue, LeadingNumberInEveryLocale)
{
    const double inf = INFINITY;
    const struct {
        const char *text;
        double value;
    } cases[] = {
        {"30", 30}, {"2.7", 2.7}, {"20s", 20}, {"abc", 0}, {"", 0},
        {"+5", 5}, {"-5", -5}, {"-.5", -0.5}, {"--5", 0}, {"+-5", 0}, {"- 5", 0},
        {"1e3", 1000}, {"2.5E-1", 0.25}, {"5.e1", 50}, {"2e", 2}, {"2e+", 2}, {"2ex3", 2},
        {"1e999", inf}, {"-1e999", -inf},
        {" \t\n 7", 7}, {"\u3000" "8", 8}, {"7 8", 7},
        {".5", 0.5}, {"5.", 5}, {".", 0}, {"1.2.3", 1.2}, {"1,5", 1},
        {"inf", 0}, {"nan", 0}, {"0x10", 0}, {"\uFF11\uFF15", 0}, // full-width digits
    };
    const QLocale saved;
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        for (const auto &c : cases) {
            SCOPED_TRACE(c.text);
            EXPECT_EQ(parseDoubleValue(QString::fromUtf8(c.text)), c.value) << locale.name().toStdString();
        }
    }
    QLocale::setDefault(saved);
}
