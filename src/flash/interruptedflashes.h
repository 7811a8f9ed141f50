#pragma once

#include "history/flashrecord.h"
#include "tool/toollock.h"

#include <QObject>
#include <QTimer>

#include <chrono>

class HistoryStore;

// Upgrades on record as still running when the program starts: one whose
// tool is gone (the machine-wide tool lock free) was cut short, as far as
// this program knows, by the end of the program that started it. While a
// tool still holds the lock (an orphaned flash, or another copy's), this
// looks again every few seconds; the version query, which needs the lock
// too, waits meanwhile: a second tool must not talk to a dock mid-flash.
class InterruptedFlashes : public QObject {
    Q_OBJECT
public:
    InterruptedFlashes(HistoryStore *history, const QString &lockPath,
                       std::chrono::milliseconds recheck = std::chrono::seconds(3), QObject *parent = nullptr);

    // Looks at the history once; call before monitoring starts.
    void start();

signals:
    // Rows still running with their tool gone, oldest first.
    void found(const QList<FlashRecord> &rows);

private:
    void check();

    HistoryStore *const m_history;
    ToolLock m_lock;
    QTimer m_timer;
};
