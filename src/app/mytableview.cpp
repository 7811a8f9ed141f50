#include "app/mytableview.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <memory>

MyTableView::MyTableView(QWidget *parent)
    : QTableView(parent)
{
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
