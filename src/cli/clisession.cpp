#include "cli/clisession.h"

#include "core/log.h"
#include "core/printable.h"
#include "devices/udeveventmonitor.h"
#include "flash/flashjob.h"
#include "history/historystore.h"
#include "settings/preferencesvalue.h"
#include "text/devicetexts.h"
#include "text/uitext.h"
#include "text/upgradetexts.h"
#include "tool/imagefile.h"
#include "tool/tooloutput.h"
#include "tool/versionquery.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
// The longest answer to the question that is read; the rest of a line is dropped.
constexpr qsizetype MaxAnswerBytes = 256;
// Without a terminal, a plain status line this often.
constexpr qint64 PlainStatusEverySeconds = 10;
} // namespace

CliSession::CliSession(CliRequest request, CliEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_env(std::move(environment))
    , m_queryLock(m_env.lockPath)
{
    m_statusTimer.setInterval(1000);
    connect(&m_statusTimer, &QTimer::timeout, this, &CliSession::showStatus);
    m_waitTimeout.setSingleShot(true);
    m_waitTimeout.setTimerType(Qt::PreciseTimer); // never before the time given
    connect(&m_waitTimeout, &QTimer::timeout, this, [this] { waitEnded(true); });
}

CliSession::~CliSession() = default;

void CliSession::start()
{
    switch (m_request.command) {
    case CliCommand::List:
        list();
        break;
    case CliCommand::Upgrade:
        upgrade();
        break;
    case CliCommand::History:
        history();
        break;
    case CliCommand::Wait:
        wait();
        break;
    case CliCommand::None:
        finish(ExitStatus::Usage);
        break;
    }
}

// The docks and their version, read by the same query, under the same
// shared lock, as the window program reads them.
void CliSession::makeMonitor()
{
    m_monitor = std::make_unique<DeviceMonitor>(m_env.usbSource(), [this] {
        return queryFirmwareVersionSync(findFirmwareTool(m_env.tools), {m_queryLock.descriptor()});
    });
    m_monitor->setQueryAllowed([this] { return holdToolForQuery(); });
    connect(m_monitor.get(), &DeviceMonitor::versionQueryEnded, this, [this] {
        m_queryLock.release();
        m_queryRunning = false;
        if (m_quitAfterQuery)
            finish(ExitStatus::Failure);
    });
    connect(m_monitor.get(), &DeviceMonitor::versionRead, this, [this](const QString &version) { m_versionRead = version; });
}

// An upgrade running here or in another copy holds the tool: the version
// stays unread, and the log says why.
bool CliSession::holdToolForQuery()
{
    const ToolLock::Result result = m_queryLock.tryShared();
    if (result == ToolLock::Result::Taken) {
        m_queryRunning = true;
        return true;
    }
    if (!m_queryRefused) {
        const QString holder = result == ToolLock::Result::Busy ? m_queryLock.holder() : QString();
        logLine(QStringLiteral("[Sync] Version query waits: ") + describeLockRefusal(holder, m_queryLock.error()));
    }
    m_queryRefused = true;
    return false;
}

void CliSession::list()
{
    makeMonitor();
    m_monitor->scanUSBDevices();
    if (m_finished)
        return;
    const DeviceList &docks = m_monitor->devices();
    if (m_request.json)
        writeJson(docksJson(docks));
    else
        write(docksTable(docks));
    finish(docks.isEmpty() ? ExitStatus::NothingToDo : ExitStatus::Done);
}

void CliSession::history()
{
    QList<FlashRecord> rows;
    // Asking must not make a history where there is none.
    if (QFileInfo::exists(m_env.historyPath)) {
        m_history = std::make_unique<HistoryStore>(m_env.historyPath);
        rows = m_history->recent(m_request.limit.value_or(-1));
    }
    if (m_request.json)
        writeJson(historyJson(rows));
    else
        write(historyTable(rows));
    finish(ExitStatus::Done);
}

// Heard from udev's events at once, and from the tick where there are none.
// Done once a dock is listed and its version read, or once the tool is
// found busy (the version then unread).
void CliSession::wait()
{
    makeMonitor();
    m_monitor->setTickInterval(m_env.tickInterval);
    m_monitor->setEventMonitor(std::make_unique<UdevEventMonitor>());
    connect(m_monitor.get(), &DeviceMonitor::versionRead, this, [this] {
        if (!m_monitor->devices().isEmpty())
            waitEnded(false);
    });
    connect(m_monitor.get(), &DeviceMonitor::devicesChanged, this, [this] {
        if (m_queryRefused && !m_monitor->devices().isEmpty())
            waitEnded(false);
    }, Qt::QueuedConnection);
    if (m_request.timeoutSeconds.value_or(0) > 0)
        m_waitTimeout.start(std::chrono::seconds(*m_request.timeoutSeconds));
    m_monitor->startUSBMonitoring();
}

void CliSession::waitEnded(bool timedOut)
{
    if (m_finished)
        return;
    m_waitTimeout.stop();
    const DeviceList docks = timedOut ? DeviceList() : m_monitor->devices();
    m_monitor->stopUSBMonitoring();
    if (m_request.json)
        writeJson(docksJson(docks));
    else if (timedOut)
        write(Ui::CliWaitTimedOut.arg(QString::number(*m_request.timeoutSeconds)) + QLatin1Char('\n'));
    else
        write(docksTable(docks));
    finish(timedOut ? ExitStatus::NotFound : ExitStatus::Done);
}

void CliSession::upgrade()
{
    m_imagePath = QFileInfo(m_request.image).absoluteFilePath();
    m_silenceLimit = m_request.timeoutSeconds.value_or(storedUpgradeTimeoutSeconds(m_env.settingsPath));
    makeMonitor();
    m_monitor->scanUSBDevices();
    if (m_finished)
        return;
    const DeviceList docks = m_monitor->devices();
    UpgradeSummary refusal;
    refusal.imagePath = m_imagePath;
    refusal.silenceLimitSeconds = m_silenceLimit;
    refusal.headline = Ui::UpgradeFailed.text();
    refusal.started = QDateTime::currentDateTimeUtc();
    if (docks.isEmpty()) {
        refusal.result = QStringLiteral("no dock");
        refusal.exitStatus = ExitStatus::NotFound;
        refusal.message = Ui::CliNoDock.text();
        endUpgrade(refusal);
        return;
    }
    // The firmware tool is told the model's USB IDs only: with two docks it
    // would pick one itself.
    if (docks.size() > 1) {
        logLine(QStringLiteral("[Upgrade] More than one dock is connected; the firmware tool cannot tell them apart"));
        refusal.result = flashResultName(FlashResult::Refused);
        refusal.message = Ui::MoreThanOneDock.text();
        endUpgrade(refusal);
        return;
    }
    m_dock = docks.first();
    refusal.dock = m_dock;
    refusal.versionBefore = m_dock.fwversion;
    if (const ImageCheck image = checkImageFile(m_imagePath); !image.ok()) {
        logLine(QStringLiteral("[Upgrade] The image ") + withoutControlCharacters(m_imagePath, u"") + QLatin1Char(' ')
                + describeImageProblem(image));
        refusal.result = flashResultName(FlashResult::Refused);
        refusal.message = imageProblemText(image, m_imagePath);
        endUpgrade(refusal);
        return;
    }
    if (m_request.yes) {
        flash();
        return;
    }
    if (!m_env.askable) {
        logLine(QStringLiteral("[Upgrade] Not upgrading: no terminal to confirm on, and no --yes"));
        refusal.result = QStringLiteral("not confirmed");
        refusal.headline.clear();
        refusal.message = Ui::CliNoTerminal.text();
        endUpgrade(refusal);
        return;
    }
    askConfirmation();
}

// The answer is read as it comes, never waited for.
void CliSession::askConfirmation()
{
    m_env.status(terminalText(Ui::ConfirmFirmwareUpgrade.text() + QLatin1Char('\n')
                               + confirmationText(m_dock, QFileInfo(m_imagePath).fileName()) + QLatin1Char('\n'),
                           true)
                  .toUtf8()
              + Ui::CliConfirmPrompt.text().toUtf8());
    m_input = std::make_unique<QSocketNotifier>(m_env.inputFd, QSocketNotifier::Read);
    connect(m_input.get(), &QSocketNotifier::activated, this, &CliSession::answerRead);
}

void CliSession::answerRead()
{
    char buffer[128];
    const ssize_t n = ::read(m_env.inputFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    const bool ended = n <= 0;
    if (n > 0 && m_answer.size() < MaxAnswerBytes)
        m_answer.append(buffer, std::min<qsizetype>(n, MaxAnswerBytes - m_answer.size()));
    if (!ended && !m_answer.contains('\n') && m_answer.size() < MaxAnswerBytes)
        return;
    m_input.reset();
    const QByteArray answer = m_answer.left(m_answer.indexOf('\n')).trimmed().toLower();
    if (answer == "y" || answer == "yes") {
        flash();
        return;
    }
    if (ended)
        m_env.status("\n");
    UpgradeSummary declined;
    declined.result = QStringLiteral("not confirmed");
    declined.dock = m_dock;
    declined.versionBefore = m_dock.fwversion;
    declined.imagePath = m_imagePath;
    declined.silenceLimitSeconds = m_silenceLimit;
    declined.message = Ui::CliNotConfirmed.text();
    declined.started = QDateTime::currentDateTimeUtc();
    endUpgrade(declined);
}

void CliSession::flash()
{
    m_history = std::make_unique<HistoryStore>(m_env.historyPath);
    FlashSetup setup;
    setup.tools = m_env.tools;
    setup.docks = {[this] { return m_monitor->devices(); }, [this] { return m_monitor->lookAgain(); }};
    setup.lockPath = m_env.lockPath;
    setup.history = m_history.get();
    m_started = QDateTime::currentDateTimeUtc();
    m_job = std::make_unique<FlashJob>(setup, m_dock, m_imagePath, std::chrono::seconds(m_silenceLimit));
    connect(m_job.get(), &FlashJob::toolStarting, this, [this] {
        m_elapsed.start();
        showStatus();
        m_statusTimer.start();
    });
    if (!m_job->start()) {
        flashEnded();
        return;
    }
    // Queued: the job is never deleted from inside its own signal.
    connect(m_job.get(), &FlashJob::finished, this, &CliSession::flashEnded, Qt::QueuedConnection);
}

// On a terminal one line rewritten in place; otherwise a plain line now and then.
void CliSession::showStatus()
{
    const qint64 seconds = m_elapsed.elapsed() / 1000;
    const QByteArray line = flashStatusLine(seconds).toUtf8();
    if (m_env.statusOnTerminal) {
        m_env.status("\r\033[K" + line);
    } else if (m_statusShown < 0 || seconds - m_statusShown >= PlainStatusEverySeconds) {
        m_env.status(line + '\n');
        m_statusShown = seconds;
    }
}

void CliSession::flashEnded()
{
    m_statusTimer.stop();
    if (m_env.statusOnTerminal && m_elapsed.isValid())
        m_env.status("\r\033[K");
    const FlashOutcome outcome = m_job->outcome();
    m_job.reset();
    UpgradeSummary summary = summarizeFlash(outcome);
    summary.dock = m_dock;
    summary.versionBefore = m_dock.fwversion;
    summary.imagePath = m_imagePath;
    summary.silenceLimitSeconds = m_silenceLimit;
    summary.started = m_started;
    // The dock may run new firmware now: its version, read again, completes the record.
    if (outcome.kind == FlashOutcome::Kind::Ran) {
        m_versionRead.clear();
        m_monitor->forgetVersion();
        m_monitor->scanUSBDevices();
        summary.versionAfter = m_versionRead;
        if (outcome.historyId && !m_versionRead.isEmpty())
            m_history->setVersionAfter(*outcome.historyId, m_versionRead);
    }
    if (outcome.historyId) {
        if (const std::optional<FlashRecord> row = m_history->record(*outcome.historyId)) {
            summary.started = row->started;
            summary.ended = row->ended;
            summary.imageSize = row->imageSize > 0 ? std::optional<qint64>(row->imageSize) : std::nullopt;
            summary.imageSha256 = row->imageSha256;
        }
    }
    if (!summary.imageSize)
        summary.imageSize = QFileInfo(m_imagePath).size();
    if (m_request.verbose)
        for (const QString &line : QString::fromUtf8(outcome.report.outputTail).split(QLatin1Char('\n'))) {
            QString cleaned = line;
            if (cleaned.endsWith(QLatin1Char('\r')))
                cleaned.chop(1);
            summary.output << terminalText(cleaned);
        }
    while (!summary.output.isEmpty() && summary.output.last().isEmpty())
        summary.output.removeLast();
    endUpgrade(summary);
}

void CliSession::endUpgrade(UpgradeSummary summary)
{
    if (!summary.ended.isValid())
        summary.ended = QDateTime::currentDateTimeUtc();
    if (m_request.json)
        writeJson(upgradeJson(summary));
    else
        write(upgradeText(summary));
    finish(summary.exitStatus);
}

void CliSession::signalReceived(int number)
{
    if (m_finished)
        return;
    if (m_job) {
        // Stopping now would end the tool's pipe in the middle of a flash;
        // the tool runs in a session of its own and never sees the signal.
        if (!m_quitAfterFlash) {
            logLine(QStringLiteral("[Upgrade] Quit requested during a firmware upgrade; quitting when it ends"));
            if (m_env.statusOnTerminal)
                m_env.status("\r\033[K");
            m_env.err(Ui::CliFlashGoesOn.text().toUtf8() + '\n');
        }
        m_quitAfterFlash = true;
        return;
    }
    logLine(QStringLiteral("Quit requested by signal %1 (%2)").arg(number).arg(QString::fromLocal8Bit(strsignal(number))));
    // A version query ends within its own bounds; the program then stops.
    if (m_queryRunning) {
        m_quitAfterQuery = true;
        return;
    }
    finish(ExitStatus::Failure);
}

void CliSession::finish(ExitStatus status)
{
    if (m_finished)
        return;
    m_finished = true;
    m_input.reset();
    if (m_monitor)
        m_monitor->stopUSBMonitoring();
    emit finished(int(status));
}

void CliSession::write(const QString &text)
{
    m_env.out(text.toUtf8());
}

void CliSession::writeJson(const QJsonObject &object)
{
    m_env.out(jsonDocument(object));
}
