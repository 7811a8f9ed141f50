#include "devices/devicelist.h"

#include <gtest/gtest.h>

TEST(UsbId, ParsesSysfsHexAndRejectsEverythingElse)
{
    struct Case {
        const char *text;
        quint16 id;
    };
    const Case cases[] = {
        {"21c4", 0x21C4}, {"B070", 0xB070}, {"0000", 0},   {"ffff", 0xFFFF}, {"021c4", 0x21C4},
        {"21c4\n", 0x21C4}, {"", 0},        {"   ", 0},    {"0x21c4", 0},    {"21g4", 0},
        {"10000", 0},     {"fffff", 0},     {"-1", 0},     {"21 c4", 0},     {"ffffffffffffffffffff1", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseUsbId(QByteArrayView(c.text)), c.id);
    }
}

// Names come from the device itself: nothing in one may forge a line of the
// copied text or the log, or reach a terminal as a control sequence.
TEST(DeviceName, ControlCharactersBecomeReplacementCharacters)
{
    struct Case {
        const char *name;
        QByteArray raw;
        QString shown;
    };
    const Case cases[] = {
        {"sysfs newline dropped", "Talvex\n", QStringLiteral("Talvex")},
        {"no newline", "Talvex", QStringLiteral("Talvex")},
        {"only one newline dropped", "Talvex\n\n", QStringLiteral("Talvex\uFFFD")},
        {"empty", "\n", QString()},
        {"forged line", "A\nFWVersion: 9.9\n", QStringLiteral("A\uFFFDFWVersion: 9.9")},
        {"escape sequence", "\x1b[31mRed\x1b]0;t\x07\n", QStringLiteral("\uFFFD[31mRed\uFFFD]0;t\uFFFD")},
        {"NUL", QByteArray("Tal\0vex\n", 8), QStringLiteral("Tal\uFFFDvex")},
        {"tab, CR, DEL", "A\tB\rC\x7f", QStringLiteral("A\uFFFDB\uFFFDC\uFFFD")},
        {"C1 controls", "A\xc2\x85" "B\xc2\x9b" "C\xc2\x9f", QStringLiteral("A\uFFFDB\uFFFDC\uFFFD")},
        {"not UTF-8", "Tal\xff\xfevex", QStringLiteral("Tal\uFFFD\uFFFDvex")},
        {"bidirectional text kept", "\u202E\u05D8\u05DC\u0648\u0643\u200F 70\n",
         QStringLiteral("\u202E\u05D8\u05DC\u0648\u0643\u200F 70")},
        {"Chinese and symbols kept", "\u6cf0\u7ef4\u00A0\u2122 70", QStringLiteral("\u6cf0\u7ef4\u00A0\u2122 70")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(deviceNameFromSysfs(c.raw), c.shown);
    }
}

namespace {
UsbDeviceFacts dock(std::optional<QString> vendor, std::optional<QString> product)
{
    const QString where = QStringLiteral("/sys/bus/usb/devices/") + vendor.value_or("-") + product.value_or("-");
    return {DockVendorId, DockProductId, std::move(vendor), std::move(product), where};
}
} // namespace

// Docks only, in bus order, a missing name shown as its ID in hex, and the
// version of the first row of the last list with the same names.
TEST(DeviceList, KeepsDocksInOrderWithHexFallbacksAndCarriedVersions)
{
    const DeviceList previous = {
        {"Talvex", "Other", "9.9", {}},
        {"Talvex", "TD-70", "1.2.3", {}},
        {"Talvex", "TD-70", "4.5.6", {}},
        {"talvex", "TD-70", "7.7", {}}, // names compare case-sensitively
    };
    const std::vector<UsbDeviceFacts> devices = {
        {0x046D, 0xC31C, "Logitech", "Keyboard", {}},
        dock(std::nullopt, "TD-70"),
        {DockVendorId, 0xB071, "Talvex", "TD-70", {}}, // same maker, other product
        {0x21C5, DockProductId, "Talvex", "TD-70", {}},
        dock("Talvex", "TD-70"),
        dock("Talvex", std::nullopt),
        {0, 0, std::nullopt, std::nullopt, {}}, // unreadable IDs
        dock("Talvex", "TD-70"),
        dock("Talvex", "TD-80"),
    };
    const DeviceList expected = {
        {"0x21C4", "TD-70", "N/A", "/sys/bus/usb/devices/-TD-70"},
        {"Talvex", "TD-70", "1.2.3", "/sys/bus/usb/devices/TalvexTD-70"},
        {"Talvex", "0xB070", "N/A", "/sys/bus/usb/devices/Talvex-"},
        {"Talvex", "TD-70", "1.2.3", "/sys/bus/usb/devices/TalvexTD-70"},
        {"Talvex", "TD-80", "N/A", "/sys/bus/usb/devices/TalvexTD-80"},
    };
    EXPECT_EQ(buildDeviceList(devices, previous), expected);
}
