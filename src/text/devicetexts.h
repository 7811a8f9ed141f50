#pragma once

#include "devices/devicerecord.h"

// What "Copy Device Info" puts on the clipboard: three lines, English labels
// in every UI language, no line break at the end.
QString deviceInfoText(const DeviceRecord &record);

// A device name as shown before an upgrade: "Unknown" when there is none.
QString nameOrUnknown(const QString &name);

// The question asked before an upgrade: the device, the image's file name and
// the confirmation, in the user's language. A name the record lacks shows as
// "Unknown".
QString confirmationText(const DeviceRecord &record, const QString &fileName);
