#include "tool/imagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

ImageCheck checkStat(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return {ImageProblem::NotAFile, {}};
    if (st.st_size == 0)
        return {ImageProblem::Empty, {}};
    if (st.st_size > MaxImageBytes)
        return {ImageProblem::TooLarge, {}};
    return {};
}

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// SHA-256 through OpenSSL, which uses the processor's SHA instructions where
// it has them: several times as fast as a portable implementation on a
// 64 MiB image.
class Sha256 {
public:
    Sha256() { EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr); }
    void addData(QByteArrayView bytes) { EVP_DigestUpdate(m_context.get(), bytes.data(), size_t(bytes.size())); }
    QString hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(m_context.get(), digest, &size);
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(size)).toHex());
    }

private:
    struct Free {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context{EVP_MD_CTX_new()};
};

// Copies exactly `size` bytes and sees the source end there; a file that
// grows, shrinks or fails to read meanwhile is not an image to flash. The
// digest is of what was written, read once.
QString copyBytes(int from, int to, qint64 size, Sha256 &digest)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return systemReason(errno);
        if (n == 0)
            break;
        copied += n;
        if (copied > size)
            break;
        if (!writeAll(to, buffer.constData(), n))
            return systemReason(errno);
        digest.addData(QByteArrayView(buffer.constData(), n));
    }
    if (copied != size)
        return QStringLiteral("the file changed while it was read");
    return {};
}
} // namespace

ImageCheck checkImageFile(const QString &path)
{
    struct stat st;
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT ? ImageCheck{ImageProblem::Missing, {}} : ImageCheck{ImageProblem::Unreadable, systemReason(errno)};
    if (const ImageCheck check = checkStat(st); !check.ok())
        return check;
    if (::access(name.constData(), R_OK) != 0)
        return {ImageProblem::Unreadable, systemReason(errno)};
    return {};
}

ImageCopy copyImage(const QString &source, const QString &baseDirectory)
{
    ImageCopy copy;
    // Non-blocking: opening a FIFO put there since the check must not wait
    // for a writer. The checks are made again on what was opened.
    Fd from{::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    struct stat st;
    if (from.fd < 0) {
        copy.check = errno == ENOENT ? ImageCheck{ImageProblem::Missing, {}} : ImageCheck{ImageProblem::Unreadable, systemReason(errno)};
        return copy;
    }
    if (::fstat(from.fd, &st) != 0) {
        copy.check = {ImageProblem::Unreadable, systemReason(errno)};
        return copy;
    }
    if (copy.check = checkStat(st); !copy.check.ok())
        return copy;
    ::fcntl(from.fd, F_SETFL, ::fcntl(from.fd, F_GETFL) & ~O_NONBLOCK);

    // mkdtemp makes the folder 0700.
    QByteArray folder = QFile::encodeName(baseDirectory + QStringLiteral("/quorvale-image-XXXXXX"));
    if (!::mkdtemp(folder.data())) {
        copy.check = {ImageProblem::CopyFailed, systemReason(errno)};
        return copy;
    }
    copy.folder = QFile::decodeName(folder);
    copy.path = copy.folder + QLatin1Char('/') + QFileInfo(source).fileName();
    QString failure;
    {
        Fd to{::open(QFile::encodeName(copy.path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
        Sha256 digest;
        if (to.fd < 0)
            failure = systemReason(errno);
        else
            failure = copyBytes(from.fd, to.fd, st.st_size, digest);
        copy.size = st.st_size;
        copy.sha256 = digest.hex();
        if (failure.isEmpty() && ::close(std::exchange(to.fd, -1)) != 0)
            failure = systemReason(errno);
    }
    if (!failure.isEmpty()) {
        removeImageCopy(copy);
        copy.check = {ImageProblem::CopyFailed, failure};
        copy.path.clear();
        copy.folder.clear();
    }
    return copy;
}

void removeImageCopy(const ImageCopy &copy)
{
    if (copy.folder.isEmpty())
        return;
    if (!copy.path.isEmpty())
        ::unlink(QFile::encodeName(copy.path).constData());
    ::rmdir(QFile::encodeName(copy.folder).constData());
}

QString describeImageProblem(const ImageCheck &check)
{
    switch (check.problem) {
    case ImageProblem::None:
        break;
    case ImageProblem::Missing:
        return QStringLiteral("does not exist");
    case ImageProblem::NotAFile:
        return QStringLiteral("is not a regular file");
    case ImageProblem::Unreadable:
        return QStringLiteral("cannot be read: ") + check.reason;
    case ImageProblem::Empty:
        return QStringLiteral("is empty");
    case ImageProblem::TooLarge:
        return QStringLiteral("is larger than 256 MiB");
    case ImageProblem::CopyFailed:
        return QStringLiteral("could not be copied: ") + check.reason;
    }
    return {};
}
