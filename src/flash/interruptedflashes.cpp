#include "flash/interruptedflashes.h"

#include "core/log.h"
#include "history/historystore.h"

InterruptedFlashes::InterruptedFlashes(HistoryStore *history, const QString &lockPath,
                                       std::chrono::milliseconds recheck, QObject *parent)
    : QObject(parent)
    , m_history(history)
    , m_lock(lockPath)
{
    m_timer.setInterval(recheck);
    connect(&m_timer, &QTimer::timeout, this, &InterruptedFlashes::check);
}

void InterruptedFlashes::start()
{
    if (!m_history || m_history->running().isEmpty())
        return;
    check();
}

void InterruptedFlashes::check()
{
    // The lock is taken for a moment only, to know whether any tool holds it.
    const ToolLock::Result lock = m_lock.tryExclusive();
    if (lock == ToolLock::Result::Busy) {
        if (!m_timer.isActive())
            logLine(QStringLiteral("An upgrade on record has not ended and %1; waiting for it before reading the dock's version")
                        .arg(describeLockRefusal(m_lock.holder(), {})));
        m_timer.start();
        return;
    }
    if (lock == ToolLock::Result::Failed) { // nothing can be known, nor flashed: the row stays as it is
        m_timer.stop();
        logLine(QStringLiteral("An upgrade on record has not ended, and whether its tool still runs cannot be told: ")
                + m_lock.error());
        return;
    }
    m_lock.release();
    m_timer.stop();
    // Another copy may have finished its own row meanwhile: only what is
    // still running now, with the lock free, was cut short.
    const QList<FlashRecord> rows = m_history->running();
    if (!rows.isEmpty())
        emit found(rows);
}
