#include "cli/cliargs.h"
#include "cli/clisession.h"
#include "cli/clisignals.h"
#include "devices/udevusbsource.h"
#include "flash/sleepinhibitor.h"
#include "history/historystore.h"
#include "text/qttranslations.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
void writeTo(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // Log lines are English, and the C library's reasons go into them; texts
    // for the user follow the language rule, which reads the environment.
    std::setlocale(LC_MESSAGES, "C");
    installQtTranslations();
    // The window program's settings: ~/.config/Quorvale/Quorvale.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvale"));

    const CliRequest request = parseCliArguments(application.arguments().mid(1));
    if (!request.error.isEmpty()) {
        writeTo(stderr, "quorvale-cli: " + request.error.toUtf8() + '\n');
        return int(ExitStatus::Usage);
    }
    if (request.help) {
        writeTo(stdout, cliHelpText(request.command).toUtf8() + '\n');
        return int(ExitStatus::Done);
    }
    if (request.version) {
        writeTo(stdout, "quorvale-cli " QUORVALE_VERSION "\n");
        return int(ExitStatus::Done);
    }

    CliEnvironment environment;
    environment.tools = ToolDirectories::forRunningProgram();
    environment.settingsPath = QSettings().fileName();
    environment.historyPath = HistoryStore::defaultPath();
    environment.lockPath = ToolLock::defaultPath();
    environment.usbSource = [] { return std::make_unique<UdevUsbSource>(); };
    // The question needs someone to answer it: standard input on a terminal.
    environment.askable = ::isatty(STDIN_FILENO);
    // With --json standard output holds the document alone, and the status
    // line goes to standard error with the log.
    environment.statusOnTerminal = ::isatty(request.json ? STDERR_FILENO : STDOUT_FILENO);
    environment.out = [](const QByteArray &bytes) { writeTo(stdout, bytes); };
    environment.err = [](const QByteArray &bytes) { writeTo(stderr, bytes); };
    environment.status = request.json ? environment.err : environment.out;
    CliSession session(request, environment);
    installCliSignalHandlers(&session, [&session](int number) { session.signalReceived(number); });
    QObject::connect(&session, &CliSession::finished, &application, [](int status) { QCoreApplication::exit(status); });
    QTimer::singleShot(0, &session, &CliSession::start);
    const int status = application.exec();
    // Qt would wait for ever, as the process ends, for a system bus that never answered.
    if (SleepInhibitor::busConnectionPending())
        std::_Exit(status);
    return status;
}
