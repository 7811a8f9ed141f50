#include "guitest.h"
#include "history/historystore.h"
#include "logcapture.h"
#include "ui/historytablemodel.h"
#include "ui/historywindow.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {
// Catches what the window asks the desktop to open.
class Opened : public QObject {
    Q_OBJECT
public:
    Opened() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~Opened() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

FlashRecord row(int minutes, FlashResult result, const QString &log, const QString &after)
{
    FlashRecord record;
    record.started = QDateTime(QDate(2026, 12, 6), QTime(10, minutes), Qt::UTC);
    record.ended = record.started.addSecs(40);
    record.manufacturer = QStringLiteral("Talvex");
    record.product = QStringLiteral("TD-70 USB-C Dock");
    record.imagePath = QStringLiteral("/media/stick/dock-2.1.0.bin");
    record.versionBefore = QStringLiteral("1.0.3");
    record.versionAfter = after;
    record.result = result;
    record.logPath = log;
    return record;
}

struct History : ::testing::Test {
    void SetUp() override
    {
        QFile log(dir.filePath(QStringLiteral("talvex_upgrade_1.log")));
        ASSERT_TRUE(log.open(QIODevice::WriteOnly));
        for (const FlashRecord &record :
             {row(1, FlashResult::Success, log.fileName(), QStringLiteral("2.1.0")),
              row(2, FlashResult::Interrupted, dir.filePath(QStringLiteral("gone.log")), QString()),
              row(3, FlashResult::Refused, QString(), QString())}) {
            const std::optional<qint64> id = store.begin(record);
            ASSERT_TRUE(id && store.finish(*id, record));
        }
        window = std::make_unique<HistoryWindow>(store.connectionName(), HistoryStore::windowSelect());
        window->show();
    }
    QString cell(int r, int column) const { return window->model()->index(r, column).data().toString(); }
    void press(int key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(window->table(), Qt::Key(key), modifiers); }

    QTemporaryDir dir;
    HistoryStore store{dir.filePath(QStringLiteral("history.sqlite"))};
    std::unique_ptr<HistoryWindow> window;
};

// Newest first, as a person reads it: local time, dock, image file, the
// versions, the result in the user's language; the table has a name.
TEST_F(History, ShowsEveryUpgradeNewestFirst)
{
    EXPECT_EQ(window->windowTitle(), expectedText("Upgrade History", "升级历史"));
    EXPECT_EQ(window->table()->accessibleName(), expectedText("Upgrades", "升级记录"));
    ASSERT_EQ(window->model()->rowCount(), 3);
    const QStringList headers{expectedText("Time", "时间"), expectedText("Dock", "扩展坞"), expectedText("Image", "映像"),
                              expectedText("Version", "版本"), expectedText("Result", "结果")};
    for (int column = 0; column < HistoryTableModel::ColumnCount; ++column)
        EXPECT_EQ(window->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
    const QString local = QDateTime(QDate(2026, 12, 6), QTime(10, 1), Qt::UTC).toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    EXPECT_EQ((QStringList{cell(2, 0), cell(2, 1), cell(2, 2), cell(2, 3), cell(2, 4)}),
              (QStringList{local, "Talvex TD-70 USB-C Dock", "dock-2.1.0.bin", "1.0.3 → 2.1.0", expectedText("Success", "成功")}));
    EXPECT_EQ(cell(1, 3), QStringLiteral("1.0.3 → N/A"));
    EXPECT_EQ(cell(1, 4), expectedText("Interrupted", "已中断"));
    EXPECT_EQ(cell(0, 4), expectedText("Refused", "已拒绝"));
}

// Ctrl+C copies the row; Return opens its log while the file is there, and
// says why not otherwise; Escape closes the window.
TEST_F(History, CopiesOpensAndCloses)
{
    Opened opened;
    EveryAlert alerts;
    window->table()->selectRow(2);
    press(Qt::Key_C, Qt::ControlModifier);
    const QString local = QDateTime(QDate(2026, 12, 6), QTime(10, 1), Qt::UTC).toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "Time: " + local + "\nDock: Talvex TD-70 USB-C Dock\nImage: /media/stick/dock-2.1.0.bin\n"
              "Version: 1.0.3 → 2.1.0\nResult: success\nLog: " + dir.filePath(QStringLiteral("talvex_upgrade_1.log")));
    press(Qt::Key_Return);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(dir.filePath(QStringLiteral("talvex_upgrade_1.log")))});
    for (const int r : {1, 0}) {
        window->table()->selectRow(r);
        press(Qt::Key_Return);
    }
    EXPECT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(alerts.texts, (QStringList{
        expectedText("The saved log %1 no longer exists: logs under /tmp are removed when the computer restarts.",
                     "保存的日志 %1 已不存在：/tmp 下的日志会在计算机重启时被删除。").arg(dir.filePath(QStringLiteral("gone.log"))),
        expectedText("No log was saved for this upgrade.", "此次升级没有保存日志。")}));
    bool closed = false;
    QObject::connect(window.get(), &HistoryWindow::closed, [&] { closed = true; });
    press(Qt::Key_Escape);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window->isVisible());
}

// Many upgrades on record: rows come from the file as they are scrolled to,
// not all at once.
TEST_F(History, FetchesRowsAsTheyAreScrolledTo)
{
    for (int i = 0; i < 600; ++i)
        ASSERT_TRUE(store.begin(row(i % 60, FlashResult::Running, {}, {})));
    window->reload();
    EXPECT_LT(window->model()->rowCount(), 603);
    EXPECT_TRUE(window->model()->canFetchMore());
    window->table()->scrollToBottom();
    while (window->model()->canFetchMore())
        window->model()->fetchMore();
    EXPECT_EQ(window->model()->rowCount(), 603);
}
} // namespace

#include "test_historywindow.moc"
