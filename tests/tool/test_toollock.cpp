#include "tool/toollock.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Each object opens the file on its own, as another instance of the program would.
TEST(ToolLock, UpgradeExcludesEveryoneQueriesShare)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tool.lock"));
    ToolLock upgrade(path), other(path), query(path);
    ASSERT_TRUE(upgrade.tryExclusive());
    EXPECT_FALSE(other.tryExclusive());
    EXPECT_FALSE(query.tryShared());
    upgrade.release();
    ASSERT_TRUE(query.tryShared());
    EXPECT_TRUE(other.tryShared());
    EXPECT_FALSE(upgrade.tryExclusive());
    query.release();
    other.release();
    EXPECT_TRUE(upgrade.tryExclusive());
    EXPECT_FALSE(ToolLock(dir.filePath(QStringLiteral("none/tool.lock"))).tryShared());
}

} // namespace
