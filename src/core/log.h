#pragma once

#include <QString>

// Writes one line "yyyy-MM-dd hh:mm:ss.zzz <process>[pid:tid] text" to standard
// error; lines from different threads never interleave.
// Every log line of the program goes through here.
void logLine(QStringView text);
// The same for a label followed by a long text, such as a tool's whole
// output, without joining the two in memory first.
void logLine(QStringView label, QStringView text);
// The same for a text from outside, such as a tool's output: control
// characters other than newline and tab become U+FFFD, so that what a tool
// prints cannot steer the terminal the log goes to.
void logOutsideText(QStringView label, QStringView text);
