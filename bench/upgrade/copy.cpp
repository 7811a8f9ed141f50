// The image's private copy with its SHA-256, as the upgrade's worker makes it
// before the tool starts, against `sha256sum` reading the same file: the
// copy writes it again besides. A 64 MiB image by default; the median of
// RUNS, with the fastest and slowest, after one run that fills the page cache.
//
//   bench_image_copy [MiB] [runs]   (defaults: 64, 7)

#include "tool/imagefile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int mib = argc > 1 ? std::atoi(argv[1]) : 64;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("dock.bin"));
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        std::mt19937_64 random(42);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < mib; ++i) {
            for (qsizetype at = 0; at + 8 <= block.size(); at += 8) {
                const quint64 value = random();
                std::memcpy(block.data() + at, &value, 8);
            }
            file.write(block);
        }
    }
    std::vector<double> copy, sum;
    QString digest, expected;
    for (int run = 0; run <= runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        const ImageCopy made = copyImage(image, dir.path());
        const double copyMs = double(clock.nsecsElapsed()) / 1e6;
        digest = made.sha256;
        removeImageCopy(made);
        clock.restart();
        QProcess process;
        process.start(QStringLiteral("sha256sum"), {image});
        process.waitForFinished(-1);
        const double sumMs = double(clock.nsecsElapsed()) / 1e6;
        expected = QString::fromLatin1(process.readAllStandardOutput().left(64));
        if (run > 0) // the first fills the page cache
            copy.push_back(copyMs), sum.push_back(sumMs);
    }
    if (digest != expected) {
        std::fprintf(stderr, "digests differ: %s vs %s\n", qPrintable(digest), qPrintable(expected));
        return 1;
    }
    std::printf("cores=%d image=%d MiB runs=%d\ncopy with SHA-256: median %.0f ms (%.0f-%.0f); sha256sum: median %.0f ms "
                "(%.0f-%.0f); ratio %.2fx (target <= 1.5x)\n",
                QThread::idealThreadCount(), mib, runs, median(copy), *std::min_element(copy.begin(), copy.end()),
                *std::max_element(copy.begin(), copy.end()), median(sum), *std::min_element(sum.begin(), sum.end()),
                *std::max_element(sum.begin(), sum.end()), median(copy) / median(sum));
    return 0;
}
