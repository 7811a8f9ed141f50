#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

typedef struct _UMockdevTestbed UMockdevTestbed;

// A fake /sys with USB devices, seen by libudev in this process. The test
// program must run under umockdev-wrapper.
class UsbTestbed {
public:
    struct Device {
        std::optional<QByteArray> idVendor;
        std::optional<QByteArray> idProduct;
        std::optional<QByteArray> manufacturer;
        std::optional<QByteArray> product;
    };

    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed &) = delete;
    UsbTestbed &operator=(const UsbTestbed &) = delete;

    // Whether libudev in this process sees the testbed (after one was made).
    static bool available();

    // Adds a usb_device; returns its sysfs path.
    QString add(const Device &device);
    QString addDock() { return add({"21c4", "b070", "Talvex", "TD-70 USB-C Dock"}); }
    QString addOther(const QByteArray &idVendor, const QByteArray &idProduct, const QByteArray &name)
    {
        return add({idVendor, idProduct, name, name});
    }
    // Adds a device of another subsystem ("block", "input"); returns its sysfs path.
    QString addOfSubsystem(const char *subsystem);
    // Removes the device without a word to udev monitors.
    void remove(const QString &sysPath);
    // Sends a uevent ("add", "remove", "change") to the udev monitors of this process.
    void uevent(const QString &sysPath, const char *action);
    void setAttribute(const QString &sysPath, const char *attribute, const QByteArray &value);

private:
    UMockdevTestbed *m_testbed;
    int m_count = 0;
};
