#include "ui/devicetexts.h"

QString deviceInfoText(const DeviceRecord &record)
{
    // One multi-argument arg() so that a "%1" inside a device name stays text.
    return QStringLiteral("Vendor: %1\nProduct: %2\nFWVersion: %3").arg(record.vendor, record.product, record.fwversion);
}
