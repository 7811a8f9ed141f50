#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

// The small window on screen while the firmware tool flashes a dock: an
// indeterminate bar and one warning line, with no control to dismiss it.
class UpgradeProgressWindow : public QWidget {
    Q_OBJECT
public:
    explicit UpgradeProgressWindow(QWidget *parent = nullptr);

    const QLabel *statusLabel() const { return m_statusLabel; }
    const QProgressBar *spinner() const { return m_spinner; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_statusLabel;
    QProgressBar *m_spinner;
};
