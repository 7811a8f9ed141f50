#pragma once

#include "tool/firmwaretool.h"
#include "tool/imagefile.h"
#include "tool/upgradeoutcome.h"

#include <QDir>
#include <QObject>
#include <QThread>

#include <chrono>

// How one upgrade run ended.
struct UpgradeReport {
    ImageCheck image;       // not ok: the image could not be copied, the tool never started
    bool abandoned = false; // the caller decided not to start the tool
    bool launched = false;
    QString launchError; // why the tool could not be started
    UpgradeVerdict verdict = UpgradeVerdict::Failed; // once launched
    int exitStatus = 0;   // the signal's number when ended by one
    ExitKind exitKind = ExitKind::Normal;
    QString logPath;      // where the whole output was saved; empty when it could not be
    QByteArray outputTail; // the end of the output as text (UTF-8), at most OutputTailBytes

    static constexpr qsizetype OutputTailBytes = 64 * 1024;
};

// The verdict's message in the user's language, for the run's log; called in
// the worker thread.
using VerdictMessage = QString (*)(UpgradeVerdict);

// One firmware upgrade, in a worker thread of its own: first the image is
// copied to a private folder (imageReady()), then, when the caller says so,
// the tool flashes that copy while its output is collected, saved, logged
// and judged. The copy is removed at the end. The thread that starts it
// never waits for the copy, the tool, the pipe or the log file; finished()
// comes back to that thread once the tool has exited and its log is written
// (or at once when the copy failed or the caller abandoned the run).
//
// A run never kills the tool unless it has gone silent for longer than the
// timeout: a flash cut short can leave the dock without working firmware.
class UpgradeRun : public QObject {
    Q_OBJECT
public:
    // silenceLimit: the longest the tool may go without printing; 0 (or
    // less, or more than a timer holds: weeks) for no limit. The image's
    // copy goes into a new folder under imageDirectory.
    UpgradeRun(const FirmwareTool &tool, const QString &imagePath, std::chrono::seconds silenceLimit,
               VerdictMessage verdictMessage, const QString &logDirectory = QStringLiteral("/tmp"),
               const QString &imageDirectory = QDir::tempPath(), QObject *parent = nullptr);
    // Waits for the worker, which has nothing left to do once finished() came.
    ~UpgradeRun() override;

    // Copies the image; imageReady() or, when that fails, finished() follows.
    void start();
    // After imageReady(): flashes the copy. The descriptors stay open in the
    // tool for its whole life (the tool lock, the sleep lock).
    void launchTool(const QList<int> &inherited = {});
    // After imageReady(): drops the copy without running the tool.
    void abandon();
    bool isFinished() const { return m_finished; }
    const UpgradeReport &report() const { return m_report; }
    // The image's copy, once imageReady() has come.
    const ImageCopy &imageCopy() const { return m_copy; }

signals:
    void imageReady();
    void finished();

private:
    void reportBack(const UpgradeReport &report);

    QThread m_thread;
    QObject *m_worker = nullptr; // lives in m_thread
    UpgradeReport m_report;
    bool m_finished = false;
    const FirmwareTool m_tool;
    const QString m_imagePath, m_logDirectory, m_imageDirectory;
    const std::chrono::seconds m_silenceLimit;
    const VerdictMessage m_verdictMessage;
    ImageCopy m_copy; // the worker's until imageReady(), then only read
};

// "[Upgrade] No output from firmware tool for 30 seconds; stopping it"
QString silenceLogLine(std::chrono::seconds silenceLimit);
