#pragma once

#include <QString>

// Writes one line "yyyy-MM-dd hh:mm:ss.zzz <process>[pid:tid] text" to standard
// error; lines from different threads never interleave. Every log line of the
// program goes through here, and control characters other than newline and
// tab become U+FFFD on the way, so that nothing a tool prints or a user names
// can steer the terminal the log goes to. Text from outside that must stay on
// its line (a file name) is cleaned of newlines by the caller.
void logLine(QStringView text);
// The same for a label followed by a long text, such as a tool's whole
// output, without joining the two in memory first.
void logLine(QStringView label, QStringView text);
