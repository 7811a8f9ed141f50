#include "app/mytableview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

#include <memory>

MyTableView::MyTableView(QWidget *parent)
    : QTableView(parent)
{
}

void MyTableView::mousePressEvent(QMouseEvent *event)
{
    // A right-click opens the row's menu without moving the highlight: the
    // menu's commands act on the clicked row, whatever is highlighted.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void MyTableView::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_menuDelegate) {
        const std::unique_ptr<QMenu> menu(m_menuDelegate->tableViewMenuForEvent(this, event->globalPos()));
        if (menu) {
            event->accept();
            menu->exec(event->globalPos());
            return;
        }
    }
    QTableView::contextMenuEvent(event);
}
