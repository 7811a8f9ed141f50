#include "ui/mainwindow.h"

#include "core/geometry.h"
#include "text/uitext.h"
#include "ui/describedmenuitem.h"
#include "ui/devicetablemodel.h"
#include "ui/presentwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {
// Rows are picked, never cells: no frame around the "current" cell.
class RowItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};
} // namespace

MainWindow::MainWindow(const DeviceList &devices)
    : m_devices(devices)
{
    setWindowTitle(QStringLiteral("Quorvale"));
    setGeometry(frameFromBottomLeft(availableScreenArea(), 100, 100, 600, 400));
    buildTable();
    buildMenuBar();
}

void MainWindow::buildTable()
{
    auto *table = new MyTableView(this);
    const QStringList headers{Ui::Vendor.text(), Ui::Product.text(), Ui::FWVersion.text()};
    m_model = new DeviceTableModel(m_devices, headers, table);
    table->setModel(m_model);
    for (int column = 0; column < DeviceColumnCount; ++column)
        table->setColumnWidth(column, 150);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->verticalHeader()->hide();
    table->setAlternatingRowColors(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setItemDelegate(new RowItemDelegate(table));
    table->setMenuDelegate(this);
    table->setAccessibleName(Ui::Docks.text());
    // Under the table, shown only while the firmware tool is missing: the
    // version stays "N/A" and no upgrade can run until it is there.
    m_toolProblem = new QLabel(this);
    m_toolProblem->setObjectName(QStringLiteral("toolProblem"));
    m_toolProblem->setWordWrap(true);
    m_toolProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_toolProblem->setContentsMargins(8, 6, 8, 6);
    m_toolProblem->hide();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table);
    layout->addWidget(m_toolProblem);
    setCentralWidget(central);
    // Keyboard users start in the table: arrows highlight a row, the menu key opens its menu.
    table->setFocus();
    tableView = table;
}

void MainWindow::buildMenuBar()
{
    // F5 reads the docks' version again, wherever the keyboard is.
    auto *readAgain = new QAction(Ui::ReadVersionAgain.text(), this);
    readAgain->setShortcut(QKeySequence(Qt::Key_F5));
    readAgain->setShortcutContext(Qt::ApplicationShortcut);
    connect(readAgain, &QAction::triggered, this, &MainWindow::readVersionRequested);
    addAction(readAgain);

    QMenu *menu = menuBar()->addMenu(QStringLiteral("Application"));

    QAction *about = menu->addAction(Ui::AboutQuorvale.text());
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &MainWindow::aboutRequested);
    menu->addSeparator();

    QAction *preferences = menu->addAction(Ui::Preferences.text());
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferences->setShortcutContext(Qt::ApplicationShortcut);
    connect(preferences, &QAction::triggered, this, &MainWindow::preferencesRequested);

    QAction *history = menu->addAction(Ui::UpgradeHistoryMenu.text());
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    history->setShortcutContext(Qt::ApplicationShortcut);
    connect(history, &QAction::triggered, this, &MainWindow::historyRequested);

    menu->addSeparator();

    const QStringList arguments = QCoreApplication::arguments();
    const QString processName = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    QAction *quit = menu->addAction(Ui::Quit.arg(processName));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

// Without a window manager nothing else hands the keyboard back once another
// window of the program has closed. A main window the user closed stays closed.
void MainWindow::takeKeyboard()
{
    if (!isVisible())
        return;
    presentWindow(this);
    tableView->setFocus();
}

void MainWindow::reloadData()
{
    m_model->reloadData();
}

QMenu *MainWindow::tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos)
{
    const int row = table->rowAt(table->viewport()->mapFromGlobal(globalPos).y());
    if (row < 0 || row >= m_devices.size())
        return nullptr;
    selectedRow = row;
    auto *menu = new QMenu(table);
    menu->setToolTipsVisible(true);
    menu->addAction(Ui::CopyDeviceInfo.text(), this, &MainWindow::copyRequested);
    menu->addAction(Ui::ReadVersionAgain.text(), this, &MainWindow::readVersionRequested);
    menu->addSeparator();
    QAction *upgrade = menu->addAction(Ui::UpgradeFirmware.text(), this, &MainWindow::upgradeRequested);
    upgrade->setEnabled(m_toolProblem->text().isEmpty() && (!m_upgradeAllowed || m_upgradeAllowed()));
    // Why it cannot be chosen, for the pointer and for a screen reader.
    if (!m_toolProblem->text().isEmpty()) {
        upgrade->setToolTip(m_toolProblem->text());
        describeMenuItem(upgrade, m_toolProblem->text());
    }
    return menu;
}

void MainWindow::setToolProblem(const QString &problem)
{
    m_toolProblem->setText(problem);
    m_toolProblem->setVisible(!problem.isEmpty());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    emit closeRequested();
}
