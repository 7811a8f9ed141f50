#pragma once

#include "app/appdelegate.h"
#include "app/upgradecontroller.h"
#include "devices/usbdevicesource.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <ostream>

// Readable failure messages for texts in gtest assertions.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

// The language a catalogue text must show in under this test run.
inline QString expectedText(const char *english, const char *chinese)
{
    return QString::fromUtf8(qgetenv("QUORVALE_EXPECT_CHINESE") == "1" ? chinese : english);
}

// A USB registry whose answer the test sets; counts the enumerations.
class FakeUsbSource : public UsbDeviceSource {
public:
    UsbEnumeration enumerate() override
    {
        ++calls;
        return next;
    }
    void setDocks(int count)
    {
        next = {};
        for (int i = 0; i < count; ++i)
            next.devices.push_back({0x21C4, 0xB070, QStringLiteral("Talvex"), QStringLiteral("Dock %1").arg(i),
                                    QStringLiteral("/sys/bus/usb/devices/1-%1").arg(i)});
    }

    UsbEnumeration next;
    int calls = 0;
};

// A controller, not launched, on a fake USB registry, with settings in a
// folder of its own. Its version query is counted, runs `duringQuery` and
// returns `answer`; an upgrade runs whatever tool the directories hold.
struct Controller {
    explicit Controller(ToolDirectories tools = {})
    {
        auto source = std::make_unique<FakeUsbSource>();
        usb = source.get();
        delegate = std::make_unique<AppDelegate>(std::move(source), files(), std::move(tools), [this] {
            ++versionQueries;
            if (duringQuery)
                duringQuery();
            return answer;
        });
    }
    QString settingsFile() const { return settingsDir.filePath(QStringLiteral("Quorvale/Quorvale.conf")); }
    AppFiles files() const
    {
        return {settingsFile(), settingsDir.filePath(QStringLiteral("tool.lock")),
                settingsDir.filePath(QStringLiteral("history.sqlite"))};
    }
    DeviceMonitor &monitor() const { return delegate->monitor(); }
    MyTableView *table() const { return delegate->mainWindow()->table(); }
    void rescan(int docks)
    {
        usb->setDocks(docks);
        monitor().scanUSBDevices();
    }
    QStringList versions() const
    {
        QStringList result;
        for (const DeviceRecord &record : monitor().devices())
            result << record.fwversion;
        return result;
    }

    QTemporaryDir settingsDir;
    FakeUsbSource *usb;
    std::optional<QString> answer;
    std::function<void()> duringQuery;
    int versionQueries = 0;
    std::unique_ptr<AppDelegate> delegate;
};

// The same, launched with its window and `docks` docks listed.
struct LaunchedApp : Controller {
    explicit LaunchedApp(int docks, ToolDirectories tools = {})
        : Controller(std::move(tools))
    {
        usb->setDocks(docks);
        delegate->applicationDidFinishLaunching();
    }
};

// Serves events until the condition holds, for at most `ms` milliseconds.
template<typename Condition>
bool serveUntil(Condition done, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Answers the next alert with the button at `index` as soon as it shows,
// keeping what it said; `onShow` runs first, to look at the rest of the
// screen while the alert is up.
class AlertAnswer {
public:
    explicit AlertAnswer(int index, std::function<void()> onShow = {})
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this, index, onShow] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_poll.stop();
            if (onShow)
                onShow();
            applicationModal = box->windowModality() == Qt::ApplicationModal;
            headline = box->text();
            text = box->informativeText();
            details = box->detailedText();
            // The buttons of the program's own: not Qt's "Show Details...".
            const QString showDetails = QCoreApplication::translate("QMessageBox", "Show Details...");
            for (QAbstractButton *button : box->buttons())
                if (button->text() != showDetails)
                    buttons << button->text();
            box->buttons().value(index)->click();
        });
        m_poll.start(10);
    }
    bool seen() const { return !m_poll.isActive(); }

    bool applicationModal = false;
    QString headline, text, details;
    QStringList buttons;

private:
    QTimer m_poll;
};

// Answers every alert with its first button as soon as it shows, keeping
// what each said; `onShow(n)` runs as the n-th one (from 0) shows, to change
// the world while it is up.
class EveryAlert {
public:
    explicit EveryAlert(std::function<void(int)> onShow = {})
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this, onShow] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (onShow)
                onShow(int(texts.size()));
            headlines << box->text();
            texts << box->informativeText();
            box->buttons().value(0)->click();
        });
        m_poll.start(10);
    }

    QStringList headlines, texts;

private:
    QTimer m_poll;
};

// Runs a context-menu request and returns the items of the menu that opened
// ("-" for a separator), activating the one with the given title, if any, and
// telling where the menu showed; nothing if no menu opened.
inline std::optional<QStringList> requestMenu(const std::function<void()> &request, const QString &activate = {},
                                              QPoint *shownAt = nullptr)
{
    std::optional<QStringList> seen;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        seen.emplace();
        if (shownAt)
            *shownAt = menu->pos();
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            *seen << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (!activate.isEmpty() && action->text() == activate)
                chosen = action;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    request();
    QCoreApplication::processEvents();
    return seen;
}

// Right-clicks a widget of the table at a point.
inline std::optional<QStringList> rightClick(QWidget *target, QPoint pos, const QString &activate = {})
{
    return requestMenu(
        [&] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
            QApplication::sendEvent(target, &event);
        },
        activate);
}

inline QPoint rowCenter(const Controller &app, int row)
{
    return app.table()->visualRect(app.table()->model()->index(row, 1)).center();
}

// Right-clicks a row of the table, activating the menu item with this title, if any.
inline std::optional<QStringList> rightClickRow(const Controller &app, int row, const QString &activate = {})
{
    return rightClick(app.table()->viewport(), rowCenter(app, row), activate);
}
