#include "devices/udevusbsource.h"

#include "devices/devicelist.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {
struct Deleter {
    void operator()(udev *p) const { udev_unref(p); }
    void operator()(udev_device *p) const { udev_device_unref(p); }
    void operator()(DIR *p) const { closedir(p); }
};
template<typename T>
using Owned = std::unique_ptr<T, Deleter>;

// Reads at most `limit` bytes of a sysfs attribute; nothing when it cannot be
// read. Non-blocking, so that something other than a regular attribute file
// (a FIFO in a fake tree) cannot hold the scan.
std::optional<QByteArray> readAttribute(const QByteArray &path, qsizetype limit)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes(limit, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(limit - got));
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        got += n;
    }
    ::close(fd);
    bytes.truncate(got);
    return bytes;
}

// An ID file holds four hex digits and a newline; anything longer is not an ID.
quint16 readIdFile(const QByteArray &path)
{
    constexpr qsizetype limit = 16;
    const std::optional<QByteArray> text = readAttribute(path, limit);
    return text && text->size() < limit ? parseUsbId(*text) : 0;
}

// busnum and devnum hold a decimal number and a newline; 0 when absent.
int readNumberFile(const QByteArray &path)
{
    const std::optional<QByteArray> text = readAttribute(path, 16);
    bool ok = false;
    const int value = text ? text->trimmed().toInt(&ok) : 0;
    return ok ? value : 0;
}

// A string descriptor holds at most 126 UTF-16 units, a few hundred bytes in
// UTF-8; whatever a name file holds beyond 4 KiB is not read.
std::optional<QString> readName(const QByteArray &path)
{
    const std::optional<QByteArray> raw = readAttribute(path, 4096);
    if (!raw)
        return std::nullopt;
    return deviceNameFromSysfs(*raw);
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
    std::map<QByteArray, bool> wholeDevices;
    for (const QByteArray &name : names) {
        const QByteArray path = m_devicesDir + name;
        UsbDeviceFacts facts;
        facts.vendorId = readIdFile(path + "/idVendor");
        facts.productId = readIdFile(path + "/idProduct");
        if (isDock(facts)) {
            // libudev resolves the whole path link by link, a hundred system
            // calls a dock, more than the rest of the scan together; what it
            // said of a device stays true while the device stays listed.
            std::optional<bool> whole;
            if (const auto known = m_wholeDevices.find(name); known != m_wholeDevices.end()) {
                whole = known->second;
            } else {
                if (!context)
                    context.reset(udev_new());
                if (!context) {
                    result.failure = QStringLiteral("IOServiceMatching failed");
                    return result;
                }
                const Owned<udev_device> device(udev_device_new_from_syspath(context.get(), path.constData()));
                if (device) {
                    const char *type = udev_device_get_devtype(device.get());
                    whole = type && qstrcmp(type, "usb_device") == 0;
                }
            }
            if (!whole)
                continue; // unplugged meanwhile: not remembered, the next scan asks again
            wholeDevices.emplace(name, *whole);
            if (!*whole)
                continue; // not a whole device
            facts.vendorName = readName(path + "/manufacturer");
            facts.productName = readName(path + "/product");
            facts.syspath = QString::fromLocal8Bit(path);
            facts.busnum = readNumberFile(path + "/busnum");
            facts.devnum = readNumberFile(path + "/devnum");
        }
        result.devices.push_back(std::move(facts));
    }
    m_wholeDevices = std::move(wholeDevices);
    return result;
}
