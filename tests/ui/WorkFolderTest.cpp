#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "common/TempDir.h"
#include "shell/WorkFolder.h"

using namespace merival;

TEST(WorkFolder, MadeOnceWithThePictureThenKeptAsTheOperatorLeftIt) {
    test::CurrentTempDir start;
    QTemporaryDir home;
    ASSERT_TRUE(start.write("package.bmp", "BM picture"));
    const QString picture = start.filePath("package.bmp");
    QFile::setPermissions(picture, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    const QString folder = home.filePath("MERIVAL");

    ASSERT_TRUE(EnterWorkFolder(folder, picture).ok());
    EXPECT_EQ(QDir::currentPath(), folder);
    const QString copy = QDir(folder).filePath("package.bmp");
    EXPECT_TRUE(QFileInfo(copy).permission(QFileDevice::WriteOwner));  // the operator's own
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_EQ(file.readAll(), QByteArray("BM picture"));
    file.resize(0);
    file.close();

    // The next start finds everything in place; a missing packaged picture is no failure.
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    ASSERT_TRUE(EnterWorkFolder(folder, picture).ok());
    ASSERT_TRUE(EnterWorkFolder(folder, home.filePath("none.bmp")).ok());
    EXPECT_EQ(QFileInfo(QDir(folder).filePath("package.bmp")).size(), 0);

    // A file in the folder's place: the program says so and stays where it was.
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    ASSERT_TRUE(start.write("MERIVAL", "x"));
    const Status refused = EnterWorkFolder(start.filePath("MERIVAL"), picture);
    EXPECT_TRUE(refused.message.contains(start.filePath("MERIVAL")))
        << refused.message.toStdString();
    EXPECT_EQ(QDir::currentPath(), start.path());
}
