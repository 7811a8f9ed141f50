#pragma once

#include <QWidget>

class HistoryTableModel;
class QTableView;

// The upgrade history: a table of every upgrade on record, newest first.
// Copy (or Ctrl+C) puts the selected row on the clipboard as text lines;
// Return, a double click or "Open Log" opens the row's saved log with the
// desktop's viewer while the file exists, and says so when it does not.
// Escape closes it.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The store's connection and the SELECT of the window's columns.
    HistoryWindow(const QString &connectionName, const QString &select, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    QTableView *table() const { return m_table; }
    HistoryTableModel *model() const { return m_model; }
    // Reads the rows again: the window is built once and shown again later.
    void reload();

signals:
    // The window was closed; the keyboard goes back to whoever opened it.
    void closed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    int currentRow() const;
    void copyRow();
    void openLog();

    HistoryTableModel *m_model;
    QTableView *m_table;
};
