#include "app/appdelegate.h"
#include "app/quitsignals.h"
#include "flash/sleepinhibitor.h"
#include "devices/udeveventmonitor.h"
#include "devices/udevusbsource.h"
#include "text/qttranslations.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {
const char NoDisplay[] = "quorvale: no graphical display found; set DISPLAY or WAYLAND_DISPLAY to a running display\n";

QtMessageHandler defaultHandler = nullptr;

// Qt ends the process with a fatal message, and a core dump, when no platform
// can start (a display that is named but cannot be reached). While the
// application object is being made that is the only fatal message there is.
void handleStartupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        defaultHandler(type, context, message);
        return;
    }
    std::fputs(NoDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(1);
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(NoDisplay, stderr);
        return 1;
    }
    defaultHandler = qInstallMessageHandler(handleStartupMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(defaultHandler);
    // Log lines are English, and the C library's reasons (a failed file, a
    // process that could not start) go into them: its messages stay
    // untranslated, whatever the desktop's language. Texts for the user
    // follow the language rule, which reads the environment, not this.
    std::setlocale(LC_MESSAGES, "C");
    installQtTranslations();
    // Settings live in ~/.config/Quorvale/Quorvale.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvale"));
    AppDelegate delegate(std::make_unique<UdevUsbSource>(), {QSettings().fileName(), {}, {}});
    // Docks show up as they are plugged in, not at the next tick.
    delegate.monitor().setEventMonitor(std::make_unique<UdevEventMonitor>());
    installQuitSignalHandlers(&delegate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    application.exec();
    // The program has nothing left to do, but Qt would wait for ever, as the
    // process ends, for a system bus that never answered.
    if (SleepInhibitor::busConnectionPending())
        std::_Exit(0);
    return 0;
}
