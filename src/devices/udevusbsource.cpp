#include "devices/udevusbsource.h"

#include "devices/devicelist.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
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

// Reads at most as many bytes of a sysfs attribute as the buffer holds (a
// char array, or a QByteArray's size); how many, or nothing when it cannot
// be read. Non-blocking, so that something other than a regular attribute
// file (a FIFO in a fake tree) cannot hold the scan. Inlined where the buffer
// is declared, so that the checked read() of _FORTIFY_SOURCE knows its size.
template<typename Buffer>
[[gnu::always_inline]] inline std::optional<qsizetype> readAttribute(const QByteArray &path, Buffer &buffer)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    const qsizetype limit = qsizetype(std::size(buffer));
    qsizetype got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, std::data(buffer) + got, size_t(limit - got));
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
    return got;
}

// The small attributes every scan reads for every device go on the stack: an
// ID file holds four hex digits and a newline, busnum and devnum a decimal
// number and a newline. A file that fills the buffer holds no such value.
constexpr qsizetype SmallAttribute = 16;

std::optional<QByteArrayView> smallValue(const char *buffer, const std::optional<qsizetype> &got)
{
    if (!got || *got == SmallAttribute)
        return std::nullopt;
    return QByteArrayView(buffer, *got);
}

quint16 readIdFile(const QByteArray &path)
{
    char buffer[SmallAttribute];
    const std::optional<QByteArrayView> text = smallValue(buffer, readAttribute(path, buffer));
    return text ? parseUsbId(*text) : 0;
}

// 0 when absent.
int readNumberFile(const QByteArray &path)
{
    char buffer[SmallAttribute];
    const std::optional<QByteArrayView> text = smallValue(buffer, readAttribute(path, buffer));
    bool ok = false;
    const int value = text ? text->trimmed().toInt(&ok) : 0;
    return ok ? value : 0;
}

// A string descriptor holds at most 126 UTF-16 units, a few hundred bytes in
// UTF-8; whatever a name file holds beyond 4 KiB is not read.
std::optional<QString> readName(const QByteArray &path)
{
    QByteArray raw(4096, Qt::Uninitialized);
    const std::optional<qsizetype> got = readAttribute(path, raw);
    if (!got)
        return std::nullopt;
    return deviceNameFromSysfs(QByteArrayView(raw).first(*got));
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
            facts.serial = readName(path + "/serial").value_or(QString());
            facts.syspath = QString::fromLocal8Bit(path);
            facts.busnum = readNumberFile(path + "/busnum");
            facts.devnum = readNumberFile(path + "/devnum");
        }
        result.devices.push_back(std::move(facts));
    }
    m_wholeDevices = std::move(wholeDevices);
    return result;
}
