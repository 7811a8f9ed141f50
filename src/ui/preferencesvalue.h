#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The program's one setting: the upgrade timeout in seconds, 0 to disable.
inline constexpr char UpgradeTimeoutKey[] = "UpgradeTimeoutSeconds";
// Shown when nothing usable is stored; never written on its own.
inline constexpr double DefaultUpgradeTimeoutSeconds = 30;

// The number a text begins with: leading white space is skipped, then an
// optional sign, digits with an optional "." fraction (whatever the locale)
// and an optional exponent; the rest is ignored. A text that does not begin
// with a number gives 0, one too large for a double gives an infinity.
double parseDoubleValue(const QString &text);

// The timeout held by a stored settings value: a number, or the number a text
// begins with. Nothing when the key is absent or holds a list, bytes or any
// other kind of value.
std::optional<double> storedTimeoutSeconds(const QVariant &stored);

// The timeout as the preferences window shows it: rounded, no decimal point.
QString formatTimeoutForField(double seconds);

// Stores the timeout in the program's settings and writes them out at once.
// Returns why that failed; the settings then keep their previous value.
std::optional<QString> saveTimeoutSeconds(double seconds);

// The timeout an upgrade applies: the stored value when it reads as a number,
// else the default. Settings edited by hand into words must not switch the
// limit off.
double upgradeTimeoutForRun(const QVariant &stored);
