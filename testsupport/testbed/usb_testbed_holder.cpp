// Keeps a umockdev testbed of fake USB devices for other processes, and plugs
// and unplugs a dock in it with udev's events, as a test says on standard input.
//
//   usb_testbed_holder DEVICES.umockdev DIRFILE
//
// Loads the devices, writes the testbed's folder to DIRFILE once it is ready,
// then reads commands, one a line: "plug" (a dock, with an "add" event),
// "unplug" (the dock plugged last, with a "remove" event). Ends at the end of
// its input. A program sees the testbed when run with UMOCKDEV_DIR set to that
// folder, under umockdev-wrapper; the events reach it as udev's would.
#include <umockdev.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
void setAttribute(UMockdevTestbed *testbed, const char *path, const char *name, const std::string &value)
{
    umockdev_testbed_set_attribute(testbed, path, name, value.c_str());
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DEVICES.umockdev DIRFILE\n", argv[0]);
        return 2;
    }
    UMockdevTestbed *testbed = umockdev_testbed_new();
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_file(testbed, argv[1], &error)) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], error ? error->message : "?");
        return 1;
    }
    const std::string dirFile = argv[2];
    const std::string partial = dirFile + ".partial";
    if (FILE *f = std::fopen(partial.c_str(), "w")) {
        std::fprintf(f, "%s\n", umockdev_testbed_get_root_dir(testbed));
        std::fclose(f);
        std::rename(partial.c_str(), dirFile.c_str());
    } else {
        std::perror(partial.c_str());
        return 1;
    }

    std::vector<std::string> plugged;
    int count = 0;
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "plug", 4) == 0) {
            ++count;
            const std::string name = "3-" + std::to_string(count);
            const char *properties[] = {"DEVTYPE", "usb_device", "DRIVER", "usb", "PRODUCT", "21c4/b070/103", nullptr};
            const char *noAttributes[] = {nullptr};
            gchar *path = umockdev_testbed_add_devicev(testbed, "usb", name.c_str(), nullptr,
                                                       const_cast<gchar **>(noAttributes), const_cast<gchar **>(properties));
            setAttribute(testbed, path, "idVendor", "21c4");
            setAttribute(testbed, path, "idProduct", "b070");
            setAttribute(testbed, path, "manufacturer", "Talvex");
            setAttribute(testbed, path, "product", "TD-70 USB-C Dock");
            setAttribute(testbed, path, "serial", "TVX-PLUGGED-" + std::to_string(count));
            setAttribute(testbed, path, "busnum", "3");
            setAttribute(testbed, path, "devnum", std::to_string(10 + count));
            umockdev_testbed_uevent(testbed, path, "add");
            plugged.emplace_back(path);
            g_free(path);
        } else if (std::strncmp(line, "unplug", 6) == 0 && !plugged.empty()) {
            umockdev_testbed_uevent(testbed, plugged.back().c_str(), "remove");
            umockdev_testbed_remove_device(testbed, plugged.back().c_str());
            plugged.pop_back();
        }
        std::printf("done\n");
        std::fflush(stdout);
    }
    g_object_unref(testbed);
    return 0;
}
