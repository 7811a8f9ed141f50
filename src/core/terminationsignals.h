#pragma once

#include <functional>

class QObject;

// Hands SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C, `kill`, a closed
// terminal) to `received` on the main thread, through a self-pipe, instead of
// ending the program at once. Call once, after the application object exists;
// the notifier lives as a child of `parent`.
void watchTerminationSignals(QObject *parent, std::function<void(int)> received);
