#pragma once

#include <QString>

// Writes one line "yyyy-MM-dd hh:mm:ss.zzz <process>[pid:tid] text" to standard
// error; lines from different threads never interleave.
// Every log line of the program goes through here.
void logLine(const QString &text);
