#pragma once

#include <QFileDialog>

// Picks the firmware image for an upgrade: one existing .bin file, with a
// line that says so.
class FirmwareFileDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit FirmwareFileDialog(QWidget *parent);

    // True for a file the dialog may hand on.
    static bool isFirmwareFile(const QString &path);

public slots:
    void accept() override;
};
