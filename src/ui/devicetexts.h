#pragma once

#include "devices/devicerecord.h"

// What "Copy Device Info" puts on the clipboard: three lines, English labels
// in every UI language, no line break at the end.
QString deviceInfoText(const DeviceRecord &record);
