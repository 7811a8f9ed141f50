#include "ui/upgradeprogresswindow.h"

#include "core/geometry.h"
#include "text/uitext.h"
#include "ui/presentwindow.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace {
constexpr int Width = 300;
constexpr int Height = 120;

// Child frames are laid out from the bottom-left corner of the content area.
QRect childFrame(int x, int y, int width, int height)
{
    return frameFromBottomLeft(QRect(0, 0, Width, Height), x, y, width, height);
}
// Screen readers announce a window when one appears; a plain widget would
// pass for a filler inside some other window.
QAccessibleInterface *accessibleAsWindow(const QString &className, QObject *object)
{
    if (className == QLatin1String("UpgradeProgressWindow") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}
} // namespace

UpgradeProgressWindow::UpgradeProgressWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    static const bool announcedAsWindow = (QAccessible::installFactory(accessibleAsWindow), true);
    Q_UNUSED(announcedAsWindow);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(Ui::FirmwareUpdating.text());
    setFixedSize(Width, Height);
    QRect frame(0, 0, Width, Height);
    frame.moveCenter(availableScreenArea().center());
    move(frame.topLeft());

    spinner = new QProgressBar(this);
    spinner->setGeometry(childFrame(10, 60, 280, 20));
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setAccessibleName(Ui::UpgradeProgress.text());

    statusLabel = new QLabel(Ui::DoNotDisconnect.text(), this);
    statusLabel->setGeometry(childFrame(10, 30, 280, 20));
    // 12 pixels, smaller still if the whole line would not fit the label.
    QFont font = statusLabel->font();
    for (int size = 12; size > 1; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(statusLabel->text()) <= statusLabel->width())
            break;
    }
    statusLabel->setFont(font);
    statusLabel->setAlignment(Qt::AlignCenter);
    // Screen readers read a window's description as it appears.
    setAccessibleDescription(statusLabel->text());
}

void UpgradeProgressWindow::closeEvent(QCloseEvent *event)
{
    // Only the program closes this window: a flash in progress cannot be dismissed.
    if (event->spontaneous())
        event->ignore();
    else
        QWidget::closeEvent(event);
}
