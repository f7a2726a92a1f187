#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "serial/SerialSettings.h"
#include "shell/WorkFolder.h"

using namespace merival;

TEST(WorkFolder, MadeOnceWithThePictureThenKeptAsTheOperatorLeftIt) {
    test::CurrentTempDir start;
    QTemporaryDir home;
    ASSERT_TRUE(start.write("package.bmp", "BM picture"));
    const QString picture = start.filePath("package.bmp");
    QFile::setPermissions(picture, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    const QString folder = home.filePath("MERIVAL");

    QString welcome;
    ASSERT_TRUE(EnterWorkFolder(folder, picture, &welcome).ok());
    // One message on the first start: the empty configuration is explained, not reported.
    EXPECT_TRUE(welcome.contains(QStringLiteral("Nouveau dossier de travail : %1").arg(folder)))
        << welcome.toStdString();
    EXPECT_FALSE(welcome.contains("package.bmp")) << "the picture was found";
    ChannelStore store;
    EXPECT_TRUE(store.LoadChannelConfig().ok());
    SerialSettings line;
    EXPECT_TRUE(LoadSerialSettings(line).ok());
    EXPECT_EQ(line, SerialSettings{});
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
    welcome.clear();
    ASSERT_TRUE(EnterWorkFolder(folder, picture, &welcome).ok());
    ASSERT_TRUE(EnterWorkFolder(folder, home.filePath("none.bmp"), &welcome).ok());
    EXPECT_EQ(welcome, QString()) << "nothing to say on the next starts";
    EXPECT_EQ(QFileInfo(QDir(folder).filePath("package.bmp")).size(), 0);

    // A file in the folder's place: the program says so and stays where it was.
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    ASSERT_TRUE(start.write("MERIVAL", "x"));
    const Status refused = EnterWorkFolder(start.filePath("MERIVAL"), picture);
    EXPECT_TRUE(refused.message.contains(start.filePath("MERIVAL")))
        << refused.message.toStdString();
    EXPECT_EQ(QDir::currentPath(), start.path());
}

// Started from a build tree there is no packaged picture: the first start says so, once.
TEST(WorkFolder, AMissingPictureIsSaidOnTheFirstStart) {
    test::CurrentTempDir start;
    QTemporaryDir home;
    const QString folder = home.filePath("MERIVAL");
    QString welcome;
    ASSERT_TRUE(EnterWorkFolder(folder, start.filePath("instrum1.bmp"), &welcome).ok());
    EXPECT_EQ(welcome.count("instrum1.bmp"), 1) << welcome.toStdString();
    welcome.clear();
    ASSERT_TRUE(EnterWorkFolder(folder, start.filePath("instrum1.bmp"), &welcome).ok());
    EXPECT_TRUE(welcome.isEmpty());
}
