#pragma once

#include <functional>

class QObject;

// Hands SIGTERM, SIGINT and SIGHUP (Ctrl+C, `kill`, a closed terminal) to
// `received` on the main thread, through a self-pipe, instead of ending the
// program at once; SIGPIPE is ignored, so that a reader of standard output
// that went away cannot end the program in the middle of a flash. Call once,
// after the application object exists; the notifier lives as a child of `parent`.
void installCliSignalHandlers(QObject *parent, std::function<void(int)> received);
