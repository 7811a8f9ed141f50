#include "tool/firmwaretool.h"

#include "tooltest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

enum class Entry { None, Executable, PlainFile, Directory, SymlinkToExecutable };

// Makes dir hold only a Talvex_Firmware_Update of the given kind.
void makeEntry(const QString &dir, Entry entry)
{
    const QString path = dir + QLatin1Char('/') + QLatin1String(FirmwareToolName);
    ASSERT_TRUE(QDir(dir).removeRecursively() && QDir().mkpath(dir));
    if (entry == Entry::None || entry == Entry::Directory) {
        EXPECT_TRUE(entry == Entry::None || QDir(dir).mkdir(QLatin1String(FirmwareToolName)));
        return;
    }
    QFile file(entry == Entry::SymlinkToExecutable ? dir + QStringLiteral("/real_tool") : path);
    const QFile::Permissions readWrite = QFile::ReadOwner | QFile::WriteOwner;
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0
                && file.setPermissions(entry == Entry::PlainFile ? readWrite : readWrite | QFile::ExeOwner));
    EXPECT_TRUE(entry != Entry::SymlinkToExecutable || file.link(path));
}

// The cases change the same two directories one after the other: the path is
// looked up again at every call, so a tool copied in or removed while the
// program runs counts. Nothing else is looked at: not the working directory.
TEST(FindFirmwareTool, Cases)
{
    enum Where { Beside, Resource };
    const struct { const char *name; Entry beside, resource; Where at; const char *problem; } cases[] = {
        {"OnlyResource", Entry::None, Entry::Executable, Resource, ""},
        {"BesideWins", Entry::Executable, Entry::Executable, Beside, ""},
        {"SymlinkBesideCounts", Entry::SymlinkToExecutable, Entry::Executable, Beside, ""},
        {"NonExecutableBesideSkipped", Entry::PlainFile, Entry::Executable, Resource, ""},
        {"DirectoryBesideSkipped", Entry::Directory, Entry::Executable, Resource, ""},
        {"NeitherUsable", Entry::Directory, Entry::PlainFile, Resource, "%2/Talvex_Firmware_Update is not executable"},
        {"NeitherPresent", Entry::None, Entry::None, Beside,
         "Talvex_Firmware_Update not found beside the program (%1) or in %2"},
    };
    QTemporaryDir beside, resource, workDir;
    const QString tool = QLatin1String(FirmwareToolName), oldCwd = QDir::currentPath();
    makeEntry(workDir.path(), Entry::Executable);
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        makeEntry(beside.path(), c.beside);
        makeEntry(resource.path(), c.resource);
        const FirmwareTool found = findFirmwareTool({beside.path(), resource.path()});
        EXPECT_EQ(found.path, (c.at == Beside ? beside : resource).filePath(tool));
        EXPECT_EQ(found.problem, QString::fromUtf8(c.problem).replace("%1", beside.path()).replace("%2", resource.path()));
    }
    ASSERT_TRUE(QDir::setCurrent(oldCwd));
}

} // namespace
