#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// The preferences window: the upgrade timeout's label and field, a line that
// says what the field takes when it holds something else, and "Save". It
// reports a valid value; the caller stores it and closes the window. Escape
// closes it as its close button does, without saving.
class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreferencesWindow(int timeoutSeconds, QWidget *parent = nullptr);

    QLineEdit *field() const { return timeoutField; }

signals:
    // "Save" was pressed with a whole number of seconds in range. Whoever
    // stores it may close or delete this window: connect it queued.
    void timeoutChosen(int seconds);
    // The window was closed: saved, or left with Escape or its close button.
    void closed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void save();

    QLineEdit *timeoutField;
    QLabel *m_problem;
};
