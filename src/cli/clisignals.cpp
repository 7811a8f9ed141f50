#include "cli/clisignals.h"

#include "core/terminationsignals.h"

#include <csignal>

void installCliSignalHandlers(QObject *parent, std::function<void(int)> received)
{
    ::signal(SIGPIPE, SIG_IGN);
    watchTerminationSignals(parent, std::move(received));
}
