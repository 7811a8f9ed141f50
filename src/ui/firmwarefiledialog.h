#pragma once

#include <QFileDialog>

// Picks the firmware image for an upgrade: one existing .bin file, with a
// line that says so. It opens in `startFolder`.
class FirmwareFileDialog : public QFileDialog {
    Q_OBJECT
public:
    FirmwareFileDialog(QWidget *parent, const QString &startFolder);

    // True for a file the dialog may hand on.
    static bool isFirmwareFile(const QString &path);

public slots:
    void accept() override;
};
