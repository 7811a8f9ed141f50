#pragma once

#include "devices/usbdevicesource.h"

// A USB registry whose answer the test sets; counts the enumerations.
class FakeUsbSource : public UsbDeviceSource {
public:
    UsbEnumeration enumerate() override
    {
        ++calls;
        return next;
    }
    void setDocks(int count)
    {
        next = {};
        for (int i = 0; i < count; ++i)
            next.devices.push_back({0x21C4, 0xB070, QStringLiteral("Talvex"), QStringLiteral("Dock %1").arg(i)});
    }

    UsbEnumeration next;
    int calls = 0;
};
