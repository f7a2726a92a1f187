#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QtEndian>
#include <functional>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/AppInfo.h"
#include "logger/windows/Extraction.h"

using namespace merival;
using merival::test::CurrentTempDir;
using merival::test::ScriptedOperator;

namespace {

// The file-system models read directories on a thread of their own; waits for what they show.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

struct Record {
    int day, month, year, hour, minute;
    qint16 measurement1, temperature1;
    quint32 totaliser1;  // BCD, as stored
    qint16 measurement2, temperature2;
};

quint8 Bcd(int n) {
    return quint8((n / 10) << 4 | (n % 10));
}

QByteArray LoggerImage(const QByteArray& name1, const QByteArray& code1, qint16 range1,
                       const QByteArray& name2, const QByteArray& code2,
                       const std::vector<Record>& records) {
    QByteArray bytes(58, '\0');
    const auto put = [&bytes](int offset, const QByteArray& field) {
        std::copy(field.begin(), field.end(), bytes.begin() + offset);
    };
    put(0, name1);
    put(18, name2);
    put(36, code1);
    put(38, code2);
    qToLittleEndian(range1, bytes.data() + 42);
    for (const Record& r : records) {
        QByteArray rec(22, '\0');
        rec[0] = char(Bcd(r.day));
        rec[1] = char(Bcd(r.month));
        rec[2] = char(Bcd(r.year));
        rec[3] = char(Bcd(r.hour));
        rec[4] = char(Bcd(r.minute));
        qToLittleEndian(r.totaliser1, rec.data() + 5);
        qToLittleEndian(r.measurement1, rec.data() + 10);
        qToLittleEndian(r.temperature1, rec.data() + 12);
        qToLittleEndian(r.measurement2, rec.data() + 18);
        qToLittleEndian(r.temperature2, rec.data() + 20);
        bytes += rec;
    }
    return bytes;
}

struct Dialog {
    Dialog() { dialog.ShowInMode(Extraction::Mode::Reset); }

    template <typename T>
    T* child(const char* name) const {
        return dialog.findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* command(int n) const {
        return dialog.findChild<QPushButton*>(QStringLiteral("Command%1").arg(n));
    }
    QFileSystemModel* files() const {
        return qobject_cast<QFileSystemModel*>(child<QListView>("File1")->model());
    }
    // The names the file list shows, once it has read its directory.
    QStringList listed() const {
        QListView* view = child<QListView>("File1");
        QStringList names;
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < files()->rowCount(root); ++row) {
            names << files()->fileName(files()->index(row, 0, root));
        }
        names.sort();
        return names;
    }
    QString listedDirectory() const {
        return files()->filePath(child<QListView>("File1")->rootIndex());
    }
    bool waitListed(const QStringList& names) const {
        return WaitFor([&] { return listed() == names; });
    }
    void clickFile(const QString& name) const {
        QListView* view = child<QListView>("File1");
        const QModelIndex index = files()->index(QDir(listedDirectory()).filePath(name));
        ASSERT_TRUE(index.isValid()) << name.toStdString();
        view->setCurrentIndex(index);
        Q_EMIT view->clicked(index);
    }
    void chooseDirectory(const QString& path) const {
        QTreeView* tree = child<QTreeView>("Dir1");
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        tree->setCurrentIndex(model->index(path));
    }

    ScriptedOperator op;
    Extraction dialog{op};
};

}  // namespace

TEST(Extraction, LoadAndModes) {
    CurrentTempDir dir;
    dir.write("a.log", "x");
    dir.write("b.LOG", "x");
    dir.write("notes.txt", "x");
    QDir(dir.path()).mkdir("sub.log");
    Dialog d;
    EXPECT_TRUE(d.dialog.isVisible());
    EXPECT_EQ(d.dialog.windowTitle(), AppTitle() + QStringLiteral(" [fichier logging]"));
    EXPECT_TRUE(d.child<QLabel>("Label2")->text().isEmpty());
    EXPECT_EQ(d.listedDirectory(), QDir::currentPath());
    EXPECT_TRUE(d.waitListed({"a.log", "b.LOG"})) << d.listed().join(' ').toStdString();
    EXPECT_EQ(d.child<QComboBox>("Drive1")->currentData().toString(),
              QStorageInfo(QDir::currentPath()).rootPath());

    const struct {
        Extraction::Mode mode;
        bool reset, extract;
    } rows[] = {
        {Extraction::Mode::Export, false, true},
        {Extraction::Mode::Reset, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reset ? "reset mode" : "export mode");
        d.command(2)->click();
        EXPECT_FALSE(d.dialog.isVisible());
        d.dialog.ShowInMode(row.mode);
        EXPECT_TRUE(d.dialog.isVisible());
        EXPECT_EQ(d.command(1)->isEnabled(), row.reset);
        EXPECT_EQ(d.command(3)->isEnabled(), row.extract);
    }
}

TEST(Extraction, ResetOfAChosenFile) {
    const struct {
        const char* name;
        bool choose;
        bool answer;
        qint64 sizeAfter;
        QString shown;
    } rows[] = {
        {"nothing chosen", false, true, 5, "Sélectionner un fichier"},
        {"confirmed", true, true, 0, "Confirmer la RAZ"},
        {"refused", true, false, 5, "Confirmer la RAZ"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CurrentTempDir dir;
        dir.write("a.log", "12345");
        dir.write("b.log", "67890");
        Dialog d;
        ASSERT_TRUE(d.waitListed({"a.log", "b.log"}));
        if (row.choose) {
            d.clickFile("a.log");
        }
        d.op.answers = {row.answer};
        d.command(1)->click();
        ASSERT_EQ(d.op.shown.size(), 1u);
        EXPECT_EQ(d.op.shown[0].text, row.shown);
        EXPECT_EQ(d.op.shown[0].icon, row.choose ? OperatorIcon::Exclamation : OperatorIcon::Error);
        EXPECT_EQ(d.op.shown[0].question, row.choose);
        EXPECT_EQ(d.op.beeps, row.choose ? 0 : 1);  // a refusal beeps, a question does not
        EXPECT_EQ(QFileInfo(dir.filePath("a.log")).size(), row.sizeAfter);
        EXPECT_EQ(dir.read("b.log"), QByteArray("67890"));
        EXPECT_TRUE(d.waitListed({"a.log", "b.log"}));
    }
}

TEST(Extraction, EmptyDirectoryOffersToCreateTheDefaultFile) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        CurrentTempDir dir;
        Dialog d;
        d.op.answers = {yes};
        d.command(1)->click();
        ASSERT_EQ(d.op.shown.size(), 1u);
        EXPECT_EQ(d.op.shown[0].text, QStringLiteral("Créer un fichier ? "));
        EXPECT_EQ(d.op.shown[0].icon, OperatorIcon::Question);
        EXPECT_TRUE(d.op.shown[0].question);
        EXPECT_EQ(d.op.beeps, yes ? 1 : 0);
        const QFileInfo created(dir.filePath("Tessamon.log"));
        EXPECT_EQ(created.exists(), yes);
        if (yes) {
            EXPECT_EQ(created.size(), 0);
            EXPECT_TRUE(d.waitListed({"Tessamon.log"}));
            // The new file is the one acted on next, not its directory.
            ASSERT_TRUE(dir.write("Tessamon.log", "records"));
            d.op.answers = {true};
            d.command(1)->click();
            ASSERT_EQ(d.op.shown.size(), 2u);
            EXPECT_EQ(d.op.shown[1].text, QStringLiteral("Confirmer la RAZ"));
            EXPECT_EQ(QFileInfo(dir.filePath("Tessamon.log")).size(), 0);
        }
    }
}

TEST(Extraction, CreationOverADirectoryIsReported) {
    CurrentTempDir dir;
    QDir(dir.path()).mkdir("Tessamon.log");
    Dialog d;
    d.op.answers = {true};
    d.command(1)->click();
    ASSERT_EQ(d.op.shown.size(), 2u);
    EXPECT_TRUE(d.op.shown[1].text.contains(QDir::toNativeSeparators(dir.filePath("Tessamon.log"))))
        << d.op.shown[1].text.toStdString();
    EXPECT_EQ(d.op.shown[1].icon, OperatorIcon::Error);
    EXPECT_TRUE(QFileInfo(dir.filePath("Tessamon.log")).isDir());
}

TEST(Extraction, ChoosingADirectoryEmptiesTheSelectedFile) {
    CurrentTempDir dir;
    dir.write("a.log", "12345");
    QDir(dir.path()).mkpath("sub");
    Dialog d;
    d.dialog.ShowInMode(Extraction::Mode::Export);
    ASSERT_TRUE(d.waitListed({"a.log"}));
    d.clickFile("a.log");
    d.chooseDirectory(dir.filePath("sub"));
    EXPECT_EQ(d.listedDirectory(), dir.filePath("sub"));
    d.chooseDirectory(dir.path());
    ASSERT_TRUE(d.waitListed({"a.log"}));
    d.command(3)->click();
    ASSERT_EQ(d.op.shown.size(), 1u);
    EXPECT_EQ(d.op.shown[0].text, QStringLiteral("Sélectionner un fichier"));
    EXPECT_EQ(d.op.shown[0].icon, OperatorIcon::Error);
    EXPECT_EQ(d.op.beeps, 1);
    EXPECT_EQ(dir.read("a.log"), QByteArray("12345"));
}

TEST(Extraction, TreeOpensAtTheCurrentDirectoryAndArrowKeysSelectFiles) {
    CurrentTempDir dir;
    // Enough siblings above it that the current directory is far below the top of the tree.
    for (int i = 0; i < 80; ++i) {
        QDir(dir.path()).mkdir(QStringLiteral("d%1").arg(i, 2, 10, QLatin1Char('0')));
    }
    const QString current = dir.filePath("d79");
    ASSERT_TRUE(QDir::setCurrent(current));
    ASSERT_TRUE(dir.write("d79/a.log", "12345") && dir.write("d79/b.log", "67890"));
    Dialog d;
    QTreeView* tree = d.child<QTreeView>("Dir1");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    EXPECT_EQ(model->filePath(tree->currentIndex()), current);
    // Once the tree has read every directory on the way down, the current one is in view.
    ASSERT_TRUE(WaitFor([&] {
        for (QDir up(current); !up.isRoot(); up.cdUp()) {
            if (model->rowCount(model->index(up.absolutePath())) == 0 && up != QDir(current)) {
                return false;
            }
        }
        return model->rowCount(model->index(QStringLiteral("/"))) > 0;
    }));
    WaitFor([] { return false; }, 300);
    EXPECT_TRUE(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));

    // Down from no file selects the first, Down again the next, as clicks would.
    ASSERT_TRUE(d.waitListed({"a.log", "b.log"}));
    QListView* list = d.child<QListView>("File1");
    for (int i = 0; i < 2; ++i) {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(list, &down);
    }
    d.op.answers = {true};
    d.command(1)->click();
    ASSERT_EQ(d.op.shown.size(), 1u);
    EXPECT_EQ(d.op.shown[0].text, QStringLiteral("Confirmer la RAZ"));
    EXPECT_EQ(dir.read("d79/a.log"), QByteArray("12345"));
    EXPECT_EQ(QFileInfo(dir.filePath("d79/b.log")).size(), 0);
}

TEST(Extraction, UnavailableDriveIsRefusedAndRestored) {
    CurrentTempDir dir;
    Dialog d;
    auto* drives = d.child<QComboBox>("Drive1");
    const QString before = drives->currentData().toString();
    drives->addItem(QStringLiteral("absent"), QStringLiteral("/nonexistent/merival-drive"));
    drives->setCurrentIndex(drives->count() - 1);
    Q_EMIT drives->activated(drives->count() - 1);
    ASSERT_EQ(d.op.shown.size(), 1u);
    EXPECT_EQ(d.op.shown[0].text, QStringLiteral("périphérique non disponible"));
    EXPECT_EQ(d.op.shown[0].icon, OperatorIcon::Error);
    EXPECT_EQ(d.op.beeps, 1);
    EXPECT_EQ(drives->currentData().toString(), before);
    EXPECT_EQ(d.listedDirectory(), dir.path());
}

TEST(Extraction, TheDriveShownChangesNothingAnotherMovesToItsRoot) {
    CurrentTempDir dir;
    dir.write("a.log", "12345");
    Dialog d;
    ASSERT_TRUE(d.waitListed({"a.log"}));
    d.clickFile("a.log");
    auto* drives = d.child<QComboBox>("Drive1");
    const QString shown = drives->currentData().toString();
    Q_EMIT drives->activated(drives->currentIndex());
    EXPECT_EQ(d.listedDirectory(), dir.path());
    EXPECT_EQ(drives->currentData().toString(), shown);
    d.command(1)->click();  // the chosen file is still chosen: its reset is asked for
    ASSERT_EQ(d.op.shown.size(), 1u);
    EXPECT_EQ(d.op.shown[0].text, QStringLiteral("Confirmer la RAZ"));

    // Another file system (the kernel's process list) is another drive: its root is shown.
    const QString other = QStorageInfo(QStringLiteral("/proc")).rootPath();
    ASSERT_NE(other, shown);
    drives->addItem(other, other);
    Q_EMIT drives->activated(drives->count() - 1);
    EXPECT_EQ(d.op.shown.size(), 1u);
    EXPECT_EQ(d.listedDirectory(), other);
}

TEST(Extraction, ExportMatchesTheConsoleTool) {
    const QString tool = QStringLiteral(MERIVAL_BINARY_DIR "/tools/export/merival-export");
    if (!QFileInfo(tool).isExecutable()) {
        GTEST_SKIP() << "merival-export not built";
    }
    std::vector<Record> records;
    for (int i = 0; i < 40; ++i) {
        records.push_back({1 + i % 28, 1 + i % 12, 24, i % 24, (i * 7) % 60, qint16(700 + i * 3),
                           qint16(215 - i * 11), 0, qint16(-5 * i), qint16(i)});
    }
    records.push_back({0, 0, 0, 0, 0, 1, 1, 0, 1, 1});  // empty memory: no line
    records.push_back({5, 6, 24, 12, 30, 712, 215, 0x12345678, 1234, 200});
    const QByteArray image = LoggerImage("Bassin A", "03", 0, "Sortie \xe9t\xe9", "06", records);

    CurrentTempDir dir;
    ASSERT_TRUE(dir.write("bassin.log", image));
    Dialog d;
    d.dialog.ShowInMode(Extraction::Mode::Export);
    ASSERT_TRUE(d.waitListed({"bassin.log"}));
    d.clickFile("bassin.log");
    d.command(3)->click();

    EXPECT_EQ(d.child<QLabel>("Label2")->text(), QStringLiteral("42 : 5/6/24 12:30  712 215 "));
    ASSERT_FALSE(d.op.shown.empty());
    EXPECT_EQ(d.op.shown.back().text, QStringLiteral("Fin d'extraction"));
    EXPECT_EQ(d.op.beeps, 1);

    QTemporaryDir toolDir;
    ASSERT_TRUE(QFile::copy(dir.filePath("bassin.log"), toolDir.filePath("bassin.log")));
    QProcess run;
    run.setWorkingDirectory(toolDir.path());
    run.start(tool, {QStringLiteral("--quiet"), QStringLiteral("bassin.log")});
    ASSERT_TRUE(run.waitForFinished(60000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    const QStringList ours = QDir(dir.path()).entryList({"*.xls"}, QDir::Files, QDir::Name);
    const QStringList theirs = QDir(toolDir.path()).entryList({"*.xls"}, QDir::Files, QDir::Name);
    ASSERT_EQ(ours.size(), 2);
    EXPECT_EQ(ours, theirs);
    for (const QString& name : ours) {
        SCOPED_TRACE(name.toStdString());
        QFile a(dir.filePath(name));
        QFile b(toolDir.filePath(name));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_EQ(a.readAll(), b.readAll());
    }
    // The decimal separator is the system's.
    const QString point = QLocale::system().decimalPoint();
    QFile ph(dir.filePath(ours.filter("pH").value(0)));
    ASSERT_TRUE(ph.open(QIODevice::ReadOnly));
    const QByteArray phText = ph.readAll();
    EXPECT_TRUE(phText.contains(
        (QStringLiteral("5/6/24\t12:30\t7") + point + "12\t21" + point + "5\t\r\n").toLatin1()))
        << phText.toStdString();
}

TEST(Extraction, StaysLiveDuringALongExport) {
    constexpr int kRecords = 300000;
    std::vector<Record> records(kRecords, Record{1, 2, 24, 10, 15, 712, 215, 0, 0, 0});
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write("long.log", LoggerImage("Long", "03", 0, "", "", records)));
    Dialog d;
    d.dialog.ShowInMode(Extraction::Mode::Export);
    ASSERT_TRUE(d.waitListed({"long.log"}));
    d.clickFile("long.log");

    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Paint;
            return false;
        }
    } paints;
    QLabel* label = d.child<QLabel>("Label2");
    label->installEventFilter(&paints);

    bool exportReturned = false;
    bool handledDuringExport = false;
    QString labelSeen;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, &d.dialog, [&] {
        if (paints.count < 1) {
            return;  // wait until the progress label has been repainted
        }
        probe.stop();
        handledDuringExport = !exportReturned;
        labelSeen = label->text();
        d.command(3)->click();  // a second export is refused while one runs
        d.command(2)->click();  // Abandon hides
        d.dialog.close();       // the close box unloads once the export is over
    });
    probe.start(1);
    d.command(3)->click();
    exportReturned = true;
    probe.stop();

    EXPECT_TRUE(handledDuringExport);
    EXPECT_TRUE(labelSeen.contains(" : 1/2/24 10:15  712 215 ")) << labelSeen.toStdString();
    EXPECT_NE(labelSeen, label->text());
    EXPECT_EQ(label->text(), QStringLiteral("%1 : 1/2/24 10:15  712 215 ").arg(kRecords));
    EXPECT_FALSE(d.dialog.isVisible());
    ASSERT_FALSE(d.op.shown.empty());
    EXPECT_EQ(d.op.shown.back().text, QStringLiteral("Fin d'extraction"));
    EXPECT_EQ(d.op.beeps, 2);  // the refused click, then the end of the export

    const QStringList out = QDir(dir.path()).entryList({"*.xls"}, QDir::Files);
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(dir.read(out[0]).count("\r\n"), 5 + kRecords);

    // Unloaded by the close box: the next use loads the dialog anew.
    d.dialog.ShowInMode(Extraction::Mode::Export);
    EXPECT_TRUE(label->text().isEmpty());
}
