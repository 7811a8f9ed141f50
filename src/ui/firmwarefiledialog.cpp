#include "ui/firmwarefiledialog.h"

#include "text/uitext.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

FirmwareFileDialog::FirmwareFileDialog(QWidget *parent, const QString &startFolder)
    : QFileDialog(parent, QString(), startFolder)
{
    // Qt's own dialog everywhere: the message line below needs its layout.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(Ui::SelectFirmwareFile.text());
    setNameFilter(QStringLiteral("*.bin"));
    if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
        auto *message = new QLabel(Ui::SelectBinFile.text(), this);
        message->setObjectName(QStringLiteral("firmwareFileMessage"));
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }
}

bool FirmwareFileDialog::isFirmwareFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.suffix().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0;
}

void FirmwareFileDialog::accept()
{
    // A typed name can get past the filter; only a .bin file leaves the
    // dialog. Folders still open as usual.
    const QString chosen = selectedFiles().value(0);
    if (QFileInfo(chosen).isFile() && !isFirmwareFile(chosen))
        return;
    QFileDialog::accept();
}
