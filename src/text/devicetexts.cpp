#include "text/devicetexts.h"

#include "text/uitext.h"

QString deviceInfoText(const DeviceRecord &record)
{
    // One multi-argument arg() so that a "%1" inside a device name stays text.
    return QStringLiteral("Vendor: %1\nProduct: %2\nFWVersion: %3").arg(record.vendor, record.product, record.fwversion);
}

QString nameOrUnknown(const QString &name)
{
    return name.isNull() ? Ui::Unknown.text() : name;
}

QString confirmationText(const DeviceRecord &record, const QString &fileName)
{
    return QStringLiteral("%1: %2 %3\n\n%4: %5\n\n%6")
        .arg(Ui::Device.text(), nameOrUnknown(record.vendor), nameOrUnknown(record.product), Ui::File.text(), fileName,
             Ui::ConfirmToStart.text());
}
