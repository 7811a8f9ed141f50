// How much one scan of the USB registry costs next to the least it could cost:
// opening and reading the same sysfs attribute files in a plain loop. Runs
// under umockdev-wrapper on a testbed of 2 docks and 62 other devices.
#include "devices/devicemonitor.h"
#include "devices/udevusbsource.h"
#include "usbtestbed.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double medianMicroseconds(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

struct Device {
    QByteArray path;
    bool dock;
};

// The files a scan reads: both IDs of every device, the two names of a dock.
size_t readAttributes(const std::vector<Device> &devices)
{
    static const char *const names[] = {"idVendor", "idProduct", "manufacturer", "product"};
    size_t total = 0;
    char buffer[4096];
    for (const Device &device : devices) {
        for (int i = 0; i < (device.dock ? 4 : 2); ++i) {
            const char *name = names[i];
            const QByteArray &path = device.path;
            const int fd = ::open((path + '/' + name).constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            total += n > 0 ? size_t(n) : 0;
            ::close(fd);
        }
    }
    return total;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    UsbTestbed testbed;
    if (!UsbTestbed::available()) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 1;
    }
    std::vector<Device> paths;
    paths.push_back({testbed.addDock().toUtf8(), true});
    for (int i = 0; i < 62; ++i) {
        const QByteArray id = QByteArray::number(0x1000 + i, 16);
        paths.push_back({testbed.addOther(id, id, "Device " + id).toUtf8(), false});
    }
    paths.push_back({testbed.addDock().toUtf8(), true});

    // The version is read at the first scan only: the rest measure the scan alone.
    DeviceMonitor monitor(std::make_unique<UdevUsbSource>(), [] { return std::optional<QString>("1.0.3"); });
    monitor.scanUSBDevices();
    if (monitor.devices().size() != 2) {
        std::fprintf(stderr, "expected 2 docks, found %d\n", int(monitor.devices().size()));
        return 1;
    }

    const int rounds = 41, perRound = 20;
    std::vector<double> scan, plain;
    size_t sink = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < perRound; ++i)
            monitor.scanUSBDevices();
        scan.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / perRound);
        start = Clock::now();
        for (int i = 0; i < perRound; ++i)
            sink += readAttributes(paths);
        plain.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / perRound);
    }
    const double scanUs = medianMicroseconds(scan), plainUs = medianMicroseconds(plain);
    std::printf("cores=%d devices=%zu scan_us=%.1f plain_read_us=%.1f ratio=%.2f (target <= 2.00)%s\n",
                QThread::idealThreadCount(), paths.size(), scanUs, plainUs, scanUs / plainUs, sink ? "" : " ");
    return 0;
}
