#include "devices/udevusbsource.h"

#include "devices/devicelist.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
struct Deleter {
    void operator()(udev *p) const { udev_unref(p); }
    void operator()(udev_device *p) const { udev_device_unref(p); }
    void operator()(DIR *p) const { closedir(p); }
};
template<typename T>
using Owned = std::unique_ptr<T, Deleter>;

// An ID file holds four hex digits and a newline; anything longer is not an ID.
quint16 readIdFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[16];
    ssize_t n;
    do
        n = ::read(fd, buffer, sizeof buffer);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0 || size_t(n) == sizeof buffer)
        return 0;
    return parseUsbId(QByteArrayView(buffer, n));
}

std::optional<QString> textAttribute(udev_device *device, const char *name)
{
    const char *value = udev_device_get_sysattr_value(device, name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}
} // namespace

UdevUsbSource::UdevUsbSource(QByteArray sysfsRoot)
    : m_devicesDir(sysfsRoot + "/bus/usb/devices/")
{
}

UsbEnumeration UdevUsbSource::enumerate()
{
    UsbEnumeration result;
    Owned<DIR> dir(::opendir(m_devicesDir.constData()));
    if (!dir) {
        // No USB bus at all (no controller, or sysfs not mounted): nothing connected.
        if (errno == ENOENT)
            return result;
        result.failure = QStringLiteral("IOServiceGetMatchingServices failed: %1").arg(quint32(-errno), 0, 16);
        return result;
    }
    std::vector<QByteArray> names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());

    Owned<udev> context;
    for (const QByteArray &name : names) {
        const QByteArray path = m_devicesDir + name;
        UsbDeviceFacts facts;
        facts.vendorId = readIdFile(path + "/idVendor");
        facts.productId = readIdFile(path + "/idProduct");
        if (isDock(facts)) {
            if (!context)
                context.reset(udev_new());
            if (!context) {
                result.failure = QStringLiteral("IOServiceMatching failed");
                return result;
            }
            const Owned<udev_device> device(udev_device_new_from_syspath(context.get(), path.constData()));
            const char *type = device ? udev_device_get_devtype(device.get()) : nullptr;
            if (!type || qstrcmp(type, "usb_device") != 0)
                continue; // unplugged meanwhile, or not a whole device
            facts.vendorName = textAttribute(device.get(), "manufacturer");
            facts.productName = textAttribute(device.get(), "product");
        }
        result.devices.push_back(std::move(facts));
    }
    return result;
}
