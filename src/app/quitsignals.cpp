#include "app/quitsignals.h"

#include "core/log.h"
#include "core/terminationsignals.h"

#include <QCoreApplication>

#include <cstring>

void installQuitSignalHandlers(QObject *parent)
{
    watchTerminationSignals(parent, [](int number) {
        logLine(QStringLiteral("Quit requested by signal %1 (%2)")
                    .arg(number)
                    .arg(QString::fromLocal8Bit(strsignal(number))));
        QCoreApplication::quit();
    });
}
