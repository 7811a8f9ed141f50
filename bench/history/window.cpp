// Opening the History window over a file of ROWS upgrades, as a person does
// with Ctrl+H: from nothing to the window shown with its first rows drawn
// (they are fetched as they are scrolled into view, not all at once). On
// Qt's offscreen platform; the median of RUNS openings, with the slowest.
//
//   QT_QPA_PLATFORM=offscreen bench_history_window [rows] [runs]   (defaults: 10000, 20)

#include "history/historystore.h"
#include "ui/historytablemodel.h"
#include "ui/historywindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        HistoryStore store(path);
        FlashRecord row;
        row.manufacturer = QStringLiteral("Talvex");
        row.product = QStringLiteral("TD-70 USB-C Dock");
        row.versionBefore = QStringLiteral("1.0.3");
        row.versionAfter = QStringLiteral("2.1.0");
        row.result = FlashResult::Success;
        QSqlDatabase db = QSqlDatabase::database(store.connectionName());
        db.transaction(); // one commit for the lot: only the reading is measured
        for (int i = 0; i < rows; ++i) {
            row.started = QDateTime::currentDateTimeUtc().addSecs(-i * 60);
            row.imagePath = QStringLiteral("/media/stick/dock-%1.bin").arg(i);
            if (!store.begin(row)) {
                std::fprintf(stderr, "could not write row %d\n", i);
                return 1;
            }
        }
        db.commit();
    }
    HistoryStore store(path);
    std::vector<double> ms;
    int shown = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        HistoryWindow window(store.connectionName(), HistoryStore::windowSelect());
        window.show();
        window.table()->viewport()->repaint(); // the first rows drawn
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        shown = window.model()->rowCount();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("cores=%d rows=%d\nopen History window to its first rows drawn: median %.1f ms, slowest %.1f ms "
                "(target <= 100 ms; %d rows fetched of %d)\n",
                QThread::idealThreadCount(), rows, ms[ms.size() / 2], ms.back(), shown, rows);
    return 0;
}
