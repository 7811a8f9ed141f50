#pragma once

#include "app/appdelegate.h"
#include "fakeusbsource.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTableView>
#include <QTimer>

#include <functional>

inline bool expectChinese()
{
    return qgetenv("QUORVALE_EXPECT_CHINESE") == "1";
}

// The language a catalogue text must show in under this test run.
inline QString expectedText(const char *english, const char *chinese)
{
    return QString::fromUtf8(expectChinese() ? chinese : english);
}

// A launched controller with a fake USB registry and no firmware tool.
struct LaunchedApp {
    // The version query is counted and finds nothing; an upgrade runs
    // whatever tool the directories hold.
    explicit LaunchedApp(int docks, ToolDirectories tools = {})
    {
        auto source = std::make_unique<FakeUsbSource>();
        usb = source.get();
        usb->setDocks(docks);
        delegate = std::make_unique<AppDelegate>(std::move(source), std::move(tools), [this](const QString &) {
            ++versionQueries;
            return std::optional<QString>();
        });
        delegate->applicationDidFinishLaunching();
    }
    void rescan(int docks)
    {
        usb->setDocks(docks);
        delegate->scanUSBDevices();
    }

    FakeUsbSource *usb;
    int versionQueries = 0;
    std::unique_ptr<AppDelegate> delegate;
};

// Runs `inspect` on whatever popup or modal window the next step opens, as
// soon as the event loop that shows it starts; `inspect` must close it.
inline void whenShown(std::function<void(QWidget *)> inspect)
{
    QTimer::singleShot(0, [inspect] {
        QWidget *shown = QApplication::activePopupWidget();
        if (!shown)
            shown = QApplication::activeModalWidget();
        inspect(shown);
    });
}

struct MenuSeen {
    bool shown = false;
    QStringList items; // "-" for a separator
};

// Right-clicks a widget of the table at a point and reports the menu that
// opened, activating the item with the given title, if any.
inline MenuSeen rightClick(QWidget *target, QPoint pos, const QString &activate = {})
{
    MenuSeen seen;
    whenShown([&](QWidget *shown) {
        auto *menu = qobject_cast<QMenu *>(shown);
        if (!menu)
            return;
        seen.shown = true;
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            seen.items << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (!activate.isEmpty() && action->text() == activate)
                chosen = action;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
    QCoreApplication::processEvents();
    return seen;
}

inline QPoint rowCenter(const AppDelegate &d, int row)
{
    return d.tableView->visualRect(d.tableView->model()->index(row, 1)).center();
}
