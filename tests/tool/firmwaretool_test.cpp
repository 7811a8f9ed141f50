#include "tool/firmwaretool.h"

#include "qtprint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

enum class Entry { None, Executable, PlainFile, Directory, SymlinkToExecutable };

struct ToolPathCase {
    const char *name;
    Entry beside;
    Entry resource;
    enum { Beside, Resource, Bare } expected;
};

const ToolPathCase ToolPathCases[] = {
    {"BesideWins", Entry::Executable, Entry::Executable, ToolPathCase::Beside},
    {"OnlyBeside", Entry::Executable, Entry::None, ToolPathCase::Beside},
    {"SymlinkBesideCounts", Entry::SymlinkToExecutable, Entry::Executable, ToolPathCase::Beside},
    {"NonExecutableBesideSkipped", Entry::PlainFile, Entry::Executable, ToolPathCase::Resource},
    {"DirectoryBesideSkipped", Entry::Directory, Entry::Executable, ToolPathCase::Resource},
    {"OnlyResource", Entry::None, Entry::Executable, ToolPathCase::Resource},
    {"NeitherUsable", Entry::PlainFile, Entry::Directory, ToolPathCase::Bare},
    {"NothingInstalled", Entry::None, Entry::None, ToolPathCase::Bare},
};

void makeEntry(const QString &dir, Entry entry)
{
    const QString path = dir + QStringLiteral("/Talvex_Firmware_Update");
    const QFile::Permissions readWrite = QFile::ReadOwner | QFile::WriteOwner;
    switch (entry) {
    case Entry::None:
        return;
    case Entry::Directory:
        ASSERT_TRUE(QDir(dir).mkdir(QStringLiteral("Talvex_Firmware_Update")));
        return;
    case Entry::SymlinkToExecutable: {
        const QString target = dir + QStringLiteral("/real_tool");
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        ASSERT_TRUE(file.setPermissions(readWrite | QFile::ExeOwner));
        ASSERT_TRUE(QFile::link(target, path));
        return;
    }
    case Entry::Executable:
    case Entry::PlainFile: {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        ASSERT_TRUE(file.setPermissions(entry == Entry::Executable ? readWrite | QFile::ExeOwner : readWrite));
        return;
    }
    }
}

TEST(FirmwareToolPath, Cases)
{
    for (const ToolPathCase &c : ToolPathCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir beside;
        QTemporaryDir resource;
        ASSERT_TRUE(beside.isValid() && resource.isValid());
        makeEntry(beside.path(), c.beside);
        makeEntry(resource.path(), c.resource);

        const QString expected = c.expected == ToolPathCase::Beside     ? beside.filePath(QStringLiteral("Talvex_Firmware_Update"))
                                 : c.expected == ToolPathCase::Resource ? resource.filePath(QStringLiteral("Talvex_Firmware_Update"))
                                                                        : QStringLiteral("Talvex_Firmware_Update");
        EXPECT_EQ(firmwareToolPath({beside.path(), resource.path()}), expected);
    }
}

TEST(FirmwareToolPath, FollowsChangesBetweenCalls)
{
    QTemporaryDir beside;
    QTemporaryDir resource;
    ASSERT_TRUE(beside.isValid() && resource.isValid());
    const ToolDirectories dirs{beside.path(), resource.path()};
    makeEntry(resource.path(), Entry::Executable);
    EXPECT_EQ(firmwareToolPath(dirs), resource.filePath(QStringLiteral("Talvex_Firmware_Update")));

    makeEntry(beside.path(), Entry::Executable);
    EXPECT_EQ(firmwareToolPath(dirs), beside.filePath(QStringLiteral("Talvex_Firmware_Update")));

    ASSERT_TRUE(QFile::remove(beside.filePath(QStringLiteral("Talvex_Firmware_Update"))));
    ASSERT_TRUE(QFile::remove(resource.filePath(QStringLiteral("Talvex_Firmware_Update"))));
    EXPECT_EQ(firmwareToolPath(dirs), QStringLiteral("Talvex_Firmware_Update"));
}

} // namespace
