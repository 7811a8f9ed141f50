#pragma once

#include <QTableView>

class QMenu;
class MyTableView;

// Whoever decides what the table's context menu holds.
class TableMenuDelegate {
public:
    virtual ~TableMenuDelegate() = default;
    // A new menu for a context-menu request at a point on the screen, or nullptr for none.
    virtual QMenu *tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos) = 0;
};

// The device table: it passes context-menu requests, from the mouse or the
// keyboard, to its menu delegate.
class MyTableView : public QTableView {
    Q_OBJECT
public:
    explicit MyTableView(QWidget *parent = nullptr);

    void setMenuDelegate(TableMenuDelegate *delegate) { m_menuDelegate = delegate; }
    TableMenuDelegate *menuDelegate() const { return m_menuDelegate; }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    TableMenuDelegate *m_menuDelegate = nullptr;
};
