#include "ui/mytableview.h"

#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
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

void MyTableView::keyPressEvent(QKeyEvent *event)
{
    // Shift+F10 is the menu key of keyboards that have none.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        contextMenuEvent(&request);
        event->accept();
        return;
    }
    // With nothing highlighted, the first arrow highlights the row the cursor
    // is on (the first one after start) instead of moving past it.
    const bool arrow = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
    if (arrow && event->modifiers() == Qt::NoModifier && model() && model()->rowCount() > 0
        && selectionModel()->selectedRows().isEmpty()) {
        selectRow(currentIndex().isValid() ? currentIndex().row() : 0);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void MyTableView::contextMenuEvent(QContextMenuEvent *event)
{
    // A mouse asks for the row under the pointer; a keyboard for the
    // highlighted row, and without one there is nothing to ask about.
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndexList highlighted = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
        if (highlighted.isEmpty()) {
            event->accept();
            return;
        }
        const QRect row = visualRect(highlighted.first());
        at = viewport()->mapToGlobal(QPoint(row.left() + row.height(), row.center().y()));
    }
    if (m_menuDelegate) {
        const std::unique_ptr<QMenu> menu(m_menuDelegate->tableViewMenuForEvent(this, at));
        if (menu) {
            event->accept();
            menu->exec(at);
            return;
        }
    }
    QTableView::contextMenuEvent(event);
}
