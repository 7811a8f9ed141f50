#pragma once

class QObject;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, `kill`, a closed terminal) into
// an ordinary quit request made on the main thread, so that they are handled
// like the Quit command, a running upgrade included. Call once, after the
// application object exists; the notifier lives as a child of `parent`.
void installQuitSignalHandlers(QObject *parent);
