// glib names a struct member "signals", which Qt defines as a macro: glib first.
#include <umockdev.h>

#include "usbtestbed.h"

#include <vector>

UsbTestbed::UsbTestbed()
    : m_testbed(umockdev_testbed_new())
{
}

UsbTestbed::~UsbTestbed()
{
    g_object_unref(m_testbed);
}

bool UsbTestbed::available()
{
    return umockdev_in_mock_environment();
}

QString UsbTestbed::add(const Device &device)
{
    ++m_count;
    const QByteArray name = "1-" + QByteArray::number(m_count);
    // The kernel's PRODUCT names the IDs in hexadecimal without leading
    // zeros; it is what tells a removal event of a dock from another's.
    const auto hex = [](const std::optional<QByteArray> &id) { return QByteArray::number(id ? id->toUInt(nullptr, 16) : 0, 16); };
    const QByteArray product = hex(device.idVendor) + '/' + hex(device.idProduct) + "/100";
    const QByteArray devnum = QByteArray::number(m_count + 1);
    const char *properties[] = {"DEVTYPE", "usb_device", "DRIVER", "usb", "PRODUCT", product.constData(), nullptr};
    const char *noAttributes[] = {nullptr};
    gchar *path = umockdev_testbed_add_devicev(m_testbed, "usb", name.constData(), nullptr,
                                               const_cast<gchar **>(noAttributes), const_cast<gchar **>(properties));
    const auto set = [&](const char *attribute, const std::optional<QByteArray> &value) {
        if (value)
            setAttribute(QString::fromUtf8(path), attribute, *value);
    };
    set("idVendor", device.idVendor);
    set("idProduct", device.idProduct);
    set("manufacturer", device.manufacturer);
    set("product", device.product);
    set("busnum", QByteArray("1"));
    set("devnum", devnum);
    const QString result = QString::fromUtf8(path);
    g_free(path);
    return result;
}

void UsbTestbed::setAttribute(const QString &sysPath, const char *attribute, const QByteArray &value)
{
    umockdev_testbed_set_attribute_binary(m_testbed, sysPath.toUtf8().constData(), attribute,
                                          reinterpret_cast<guint8 *>(const_cast<char *>(value.constData())),
                                          gint(value.size()));
}

void UsbTestbed::remove(const QString &sysPath)
{
    umockdev_testbed_remove_device(m_testbed, sysPath.toUtf8().constData());
}

QString UsbTestbed::addOfSubsystem(const char *subsystem)
{
    const QByteArray name = QByteArray(subsystem) + QByteArray::number(++m_count);
    const char *none[] = {nullptr};
    gchar *path = umockdev_testbed_add_devicev(m_testbed, subsystem, name.constData(), nullptr,
                                               const_cast<gchar **>(none), const_cast<gchar **>(none));
    const QString result = QString::fromUtf8(path);
    g_free(path);
    return result;
}

void UsbTestbed::uevent(const QString &sysPath, const char *action)
{
    umockdev_testbed_uevent(m_testbed, sysPath.toUtf8().constData(), action);
}
