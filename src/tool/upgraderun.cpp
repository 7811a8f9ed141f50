#include "tool/upgraderun.h"

#include "core/log.h"
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
    // The saved file keeps every byte; the terminal gets no control sequences.
    logOutsideText(u"[Upgrade] Output:\n", result.text);
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
                       VerdictMessage verdictMessage, const QString &logDirectory, QObject *parent)
    : QObject(parent)
    , m_tool(tool)
    , m_imagePath(imagePath)
    , m_logDirectory(logDirectory)
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

void UpgradeRun::start()
{
    // The tool's process, its pipe and the log file all belong to the worker,
    // and go with it when its thread ends.
    auto *worker = new QObject;
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(worker, [this, worker] {
        logLine(tagged(QStringLiteral("Launching firmware tool at: ")) + m_tool.path);
        ToolRunLimits limits;
        limits.killGrace = KillGrace;
        if (m_silenceLimit.count() > 0 && m_silenceLimit.count() < std::numeric_limits<int>::max() / 1000)
            limits.silenceLimit = m_silenceLimit;
        auto *run = new ToolRun(m_tool, upgradeArguments(m_imagePath), ToolLogKind::Upgrade,
                                limits, m_logDirectory, worker);
        auto phrases = std::make_shared<UpgradePhraseScanner>();
        run->setOutputObserver([phrases](QByteArrayView chunk) { phrases->feed(chunk); });
        connect(run, &ToolRun::limitExceeded, run, [limit = m_silenceLimit] { logLine(silenceLogLine(limit)); });
        connect(run, &ToolRun::finished, run, [this, run, phrases] {
            const UpgradeReport report = logAndJudge(run->result(), *phrases, m_verdictMessage);
            QMetaObject::invokeMethod(
                this,
                [this, report] {
                    m_report = report;
                    m_finished = true;
                    m_thread.quit();
                    emit finished();
                },
                Qt::QueuedConnection);
        });
        run->start();
    });
}
