#include "tool/upgraderun.h"

#include "core/log.h"
#include "core/printable.h"
#include "tool/firmwaretool.h"
#include "tool/toolrun.h"

#include <limits>
#include <memory>

namespace {
constexpr std::chrono::milliseconds KillGrace{5000};

QString tagged(const QString &text)
{
    return QStringLiteral("[Upgrade] ") + text;
}

// Everything of a run that happens in the worker thread.
UpgradeReport logAndJudge(const ToolRunResult &result, const UpgradePhraseScanner &phrases,
                          VerdictMessage verdictMessage)
{
    UpgradeReport report;
    report.launched = logToolRunEnd(result, ToolLogKind::Upgrade);
    if (!report.launched) {
        report.launchError = result.launchError;
        return report;
    }
    report.exitStatus = result.exitStatus;
    report.exitKind = result.exitKind;
    if (result.log.ok)
        report.logPath = result.log.path;
    report.outputTail = outputTail(result.text, UpgradeReport::OutputTailBytes);
    // The saved file keeps every byte; the terminal gets no control sequences.
    logLine(u"[Upgrade] Output:\n", result.text);
    report.verdict = classifyUpgrade(phrases.found(), result.exitStatus, result.exitKind);
    logLine(tagged(QStringLiteral("Success: ")) + (report.verdict == UpgradeVerdict::Success ? QStringLiteral("YES") : QStringLiteral("NO"))
            + QStringLiteral(", Message: ") + verdictMessage(report.verdict));
    return report;
}
} // namespace

QString silenceLogLine(std::chrono::seconds silenceLimit)
{
    return tagged(QStringLiteral("No output from firmware tool for %1 seconds; stopping it").arg(silenceLimit.count()));
}

UpgradeRun::UpgradeRun(const FirmwareTool &tool, const QString &imagePath, std::chrono::seconds silenceLimit,
                       VerdictMessage verdictMessage, const QString &logDirectory, const QString &imageDirectory,
                       QObject *parent)
    : QObject(parent)
    , m_tool(tool)
    , m_imagePath(imagePath)
    , m_logDirectory(logDirectory)
    , m_imageDirectory(imageDirectory)
    , m_silenceLimit(silenceLimit)
    , m_verdictMessage(verdictMessage)
{
    m_thread.setObjectName(QStringLiteral("upgrade"));
}

UpgradeRun::~UpgradeRun()
{
    m_thread.quit();
    m_thread.wait();
}

// Called in the worker: the copy is gone before the run is reported.
void UpgradeRun::reportBack(const UpgradeReport &report)
{
    removeImageCopy(m_copy);
    QMetaObject::invokeMethod(
        this,
        [this, report] {
            m_report = report;
            m_finished = true;
            m_thread.quit();
            emit finished();
        },
        Qt::QueuedConnection);
}

void UpgradeRun::start()
{
    // The tool's process, its pipe, the log file and the image's copy all
    // belong to the worker, and go with it when its thread ends.
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    // An image on a stick that is pulled, or a file rewritten meanwhile,
    // would feed the flash another or a cut image: the tool gets a copy.
    QMetaObject::invokeMethod(m_worker, [this] {
        m_copy = copyImage(m_imagePath, m_imageDirectory);
        if (!m_copy.check.ok()) {
            logLine(tagged(QStringLiteral("The image ")) + withoutControlCharacters(m_imagePath) + QLatin1Char(' ')
                    + describeImageProblem(m_copy.check));
            UpgradeReport report;
            report.image = m_copy.check;
            reportBack(report);
            return;
        }
        QMetaObject::invokeMethod(this, &UpgradeRun::imageReady, Qt::QueuedConnection);
    });
}

void UpgradeRun::abandon()
{
    QMetaObject::invokeMethod(m_worker, [this] {
        UpgradeReport report;
        report.abandoned = true;
        reportBack(report);
    });
}

void UpgradeRun::launchTool(const QList<int> &inherited)
{
    QMetaObject::invokeMethod(m_worker, [this, inherited] {
        logLine(tagged(QStringLiteral("The tool flashes a private copy of the image: ")) + withoutControlCharacters(m_copy.path));
        if (m_tool.state != FirmwareTool::State::Missing) // a path that names nothing was launched at nothing
            logLine(tagged(QStringLiteral("Launching firmware tool at: ")) + withoutControlCharacters(m_tool.path));
        ToolRunLimits limits;
        limits.killGrace = KillGrace;
        if (m_silenceLimit.count() > 0 && m_silenceLimit.count() < std::numeric_limits<int>::max() / 1000)
            limits.silenceLimit = m_silenceLimit;
        auto *run = new ToolRun(m_tool, upgradeArguments(m_copy.path), ToolLogKind::Upgrade, limits, m_logDirectory,
                                m_worker);
        run->setInheritedDescriptors(inherited);
        auto phrases = std::make_shared<UpgradePhraseScanner>();
        run->setOutputObserver([phrases](QByteArrayView chunk) { phrases->feed(chunk); });
        connect(run, &ToolRun::limitExceeded, run, [limit = m_silenceLimit] { logLine(silenceLogLine(limit)); });
        connect(run, &ToolRun::finished, run,
                [this, run, phrases] { reportBack(logAndJudge(run->result(), *phrases, m_verdictMessage)); });
        run->start();
    });
}
