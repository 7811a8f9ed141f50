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

    QLabel *statusLabel = nullptr;
    QProgressBar *spinner = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
};
