#include "tool/toollock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ToolLock::ToolLock(QString path)
    : m_path(std::move(path))
{
}

ToolLock::~ToolLock()
{
    release();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString ToolLock::defaultPath()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QStringLiteral("/tmp/quorvale-%1").arg(::getuid());
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return dir + QStringLiteral("/quorvale-firmware-tool.lock");
}

bool ToolLock::tryLock(int operation)
{
    if (m_fd < 0) {
        // Close-on-exec: the tool must not hold the lock after this program is gone.
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    int rc;
    do
        rc = ::flock(m_fd, operation | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    m_held = rc == 0;
    return m_held;
}

bool ToolLock::tryExclusive()
{
    return tryLock(LOCK_EX);
}

bool ToolLock::tryShared()
{
    return tryLock(LOCK_SH);
}

void ToolLock::release()
{
    if (m_held)
        ::flock(m_fd, LOCK_UN);
    m_held = false;
}
