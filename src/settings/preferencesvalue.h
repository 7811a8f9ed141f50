#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The program's one setting: the longest an upgrade's tool may go without
// printing, in whole seconds; 0 switches the limit off.
inline constexpr char UpgradeTimeoutKey[] = "UpgradeTimeoutSeconds";
// Long enough for a slow erase that prints nothing: a tool stopped mid-flash
// can leave the dock without firmware.
inline constexpr int DefaultUpgradeTimeoutSeconds = 600;
inline constexpr int MaxUpgradeTimeoutSeconds = 86400;

// A timeout as text: a whole number of seconds from 0 to the maximum, white
// space around it allowed, "." as the decimal point in every locale ("30.0"
// is 30). Nothing for anything else ("20s", "2.5", "-5", "abc").
std::optional<int> parseTimeoutSeconds(QStringView text);

// The one rule for a stored value: the Preferences window shows it, an
// upgrade applies it and its log line says it. A value that is not such a
// whole number, edited by hand or left by an older version, gives the
// default: it must neither switch the limit off nor cut a flash short.
int upgradeTimeoutSeconds(const QVariant &stored);
int storedUpgradeTimeoutSeconds(const QString &settingsPath);

// Stores the timeout (as a double) in the settings file and writes it out at
// once. Returns why that failed; the file then keeps its previous value.
std::optional<QString> saveTimeoutSeconds(const QString &settingsPath, int seconds);
