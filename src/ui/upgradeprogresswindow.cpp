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

    m_spinner = new QProgressBar(this);
    m_spinner->setGeometry(childFrame(10, 60, 280, 20));
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setAccessibleName(Ui::UpgradeProgress.text());

    m_statusLabel = new QLabel(Ui::DoNotDisconnect.text(), this);
    m_statusLabel->setGeometry(childFrame(10, 30, 280, 20));
    // 12 pixels, smaller still if the whole line would not fit the label.
    QFont font = m_statusLabel->font();
    for (int size = 12; size > 1; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(m_statusLabel->text()) <= m_statusLabel->width())
            break;
    }
    m_statusLabel->setFont(font);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    // Screen readers read a window's description as it appears.
    setAccessibleDescription(m_statusLabel->text());
}

void UpgradeProgressWindow::closeEvent(QCloseEvent *event)
{
    // Only the program closes this window: a flash in progress cannot be dismissed.
    if (event->spontaneous())
        event->ignore();
    else
        QWidget::closeEvent(event);
}
