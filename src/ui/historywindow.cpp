#include "ui/historywindow.h"

#include "core/log.h"
#include "text/uitext.h"
#include "ui/historytablemodel.h"
#include "ui/presentwindow.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

HistoryWindow::HistoryWindow(const QString &connectionName, const QString &select, QWidget *parent)
    : QWidget(parent)
    , m_model(new HistoryTableModel(connectionName, select, this))
    , m_table(new QTableView(this))
{
    setWindowTitle(Ui::UpgradeHistoryTitle.text());
    // In the middle of the screen, where a window manager does not place it.
    QRect frame(0, 0, 720, 360);
    frame.moveCenter(availableScreenArea().center());
    setGeometry(frame);
    m_table->setModel(m_model);
    m_table->setAccessibleName(Ui::UpgradesTable.text());
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(HistoryTableModel::Time, 140);
    m_table->setColumnWidth(HistoryTableModel::Dock, 180);
    m_table->setColumnWidth(HistoryTableModel::Image, 140);
    m_table->setColumnWidth(HistoryTableModel::Version, 110);
    connect(m_table, &QTableView::doubleClicked, this, &HistoryWindow::openLog);

    auto *copy = new QPushButton(Ui::Copy.text(), this);
    auto *open = new QPushButton(Ui::OpenLog.text(), this);
    connect(copy, &QPushButton::clicked, this, &HistoryWindow::copyRow);
    connect(open, &QPushButton::clicked, this, &HistoryWindow::openLog);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copy);
    buttons->addWidget(open);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    setTabOrder(m_table, copy);
    setTabOrder(copy, open);
    reload();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::reload()
{
    m_model->reload();
    if (m_model->rowCount() > 0)
        m_table->selectRow(0);
    m_table->setFocus();
}

int HistoryWindow::currentRow() const
{
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void HistoryWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openLog();
    } else if (event->matches(QKeySequence::Copy)) {
        copyRow();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit closed();
}

void HistoryWindow::copyRow()
{
    if (const int row = currentRow(); row >= 0) {
        const QString text = m_model->rowText(row);
        QGuiApplication::clipboard()->setText(text);
        logLine(QStringLiteral("Upgrade history copied to clipboard: ") + text);
    }
}

void HistoryWindow::openLog()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const QString path = m_model->logPath(row);
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        return;
    }
    QMessageBox alert(this);
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(Ui::OpenLog.text());
    alert.setInformativeText(path.isEmpty() ? Ui::NoLog.text() : Ui::LogGone.arg(path));
    alert.addButton(Ui::Ok.text(), QMessageBox::AcceptRole);
    alert.exec();
    presentWindow(this);
}
