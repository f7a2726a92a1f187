#include "logger/windows/Extraction.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStorageInfo>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "base/Operator.h"
#include "base/windows/WindowFit.h"
#include "config/AppInfo.h"
#include "logger/LoggerExport.h"
#include "shell/FileDialogs.h"

namespace merival {
namespace {

const QString kDesignCaption = QStringLiteral(" [fichier logging]");
const QString kPattern = QStringLiteral("*.log");
const QString kDefaultLoggerName = QStringLiteral("Tessamon.log");

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The volumes the operator can pick. On Linux only mounted file systems backed by a device
// (and the root), not the kernel's pseudo file systems or bind-mounted single files.
// On Windows every drive letter, ready or not, as the operator expects to see them.
QList<QStorageInfo> Drives() {
    QList<QStorageInfo> drives;
#ifdef Q_OS_WIN
    for (const QFileInfo& drive : QDir::drives()) {
        drives << QStorageInfo(drive.absoluteFilePath());
    }
#else
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir()) {
            continue;
        }
        // Loop-mounted images (application snapshots) are not drives either.
        if (volume.isRoot() ||
            (volume.device().startsWith("/dev/") && volume.fileSystemType() != "squashfs")) {
            drives << volume;
        }
    }
#endif
    return drives;
}

}  // namespace

Extraction::Extraction(Operator& op, QWidget* parent) : QWidget(parent, Qt::Window), op_(op) {
    setObjectName(QStringLiteral("Extraction"));
    setWindowTitle(kDesignCaption);

    auto* buttonFrame = new QGroupBox(this);
    buttonFrame->setObjectName(QStringLiteral("Frame1"));
    Command3 = new QPushButton(QStringLiteral("Extraction"), buttonFrame);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command1 = new QPushButton(QStringLiteral("RAZ Fichier"), buttonFrame);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("Abandon"), buttonFrame);
    Command2->setObjectName(QStringLiteral("Command2"));
    auto* buttons = new QHBoxLayout(buttonFrame);
    buttons->addWidget(Command3);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);

    auto* listFrame = new QGroupBox(QStringLiteral("Sélection du fichier"), this);
    listFrame->setObjectName(QStringLiteral("Frame2"));
    Drive1 = new QComboBox(listFrame);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Dir1 = new QTreeView(listFrame);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setHeaderHidden(true);
    File1 = new QListView(listFrame);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setSelectionMode(QAbstractItemView::SingleSelection);
    File1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* lists = new QGridLayout(listFrame);
    lists->addWidget(Drive1, 0, 0);
    lists->addWidget(Dir1, 1, 0);
    lists->addWidget(File1, 0, 1, 2, 1);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buttonFrame);
    layout->addWidget(listFrame, 1);
    layout->addWidget(Label2);

    dirModel_ = new QFileSystemModel(this);
    dirModel_->setIconProvider(QuietFileIcons());
    dirModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    dirModel_->setReadOnly(true);
    Dir1->setModel(dirModel_);
    for (int column = 1; column < dirModel_->columnCount(); ++column) {
        Dir1->hideColumn(column);
    }
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { Dir1_Change(current); });
    connect(Drive1, &QComboBox::activated, this, [this](int index) { Drive1_Change(index); });
    connect(File1, &QListView::clicked, this,
            [this](const QModelIndex& index) { File1_Click(index); });
    // The tree reads and sorts directories in the background, and every row added above the
    // current directory pushes it down: it is brought back into view after each change until
    // the operator scrolls, opens or closes a branch, or picks a directory.
    connect(dirModel_, &QAbstractItemModel::rowsInserted, this,
            [this] { KeepCurrentDirectoryInView(); });
    connect(dirModel_, &QAbstractItemModel::layoutChanged, this,
            [this] { KeepCurrentDirectoryInView(); });
    connect(Dir1->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { followCurrent_ = false; });
    connect(Dir1, &QTreeView::expanded, this, [this] { followCurrent_ = false; });
    connect(Dir1, &QTreeView::collapsed, this, [this] { followCurrent_ = false; });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    PlaceOnOwnerWhenShown(this);
    BindDialogKeys(this, nullptr, Command2);
}

Extraction::~Extraction() = default;

void Extraction::ShowInMode(Mode mode) {
    if (!loaded_) {
        Form_Load();
    } else {
        show();
        raise();
        activateWindow();
    }
    Command1->setEnabled(mode == Mode::Reset);
    Command3->setEnabled(mode == Mode::Export);
}

void Extraction::Form_Load() {
    loaded_ = true;
    show();
    raise();
    setWindowTitle(AppTitle() + kDesignCaption);
    Label2->clear();
    FillDrives();
    SetDirectory(QDir::currentPath());
    selectedFile_.clear();
    currentName_.clear();
}

void Extraction::Form_Unload() {
    loaded_ = false;
}

void Extraction::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Extraction::FillDrives() {
    const QSignalBlocker block(Drive1);
    Drive1->clear();
    for (const QStorageInfo& drive : Drives()) {
        QString text = Native(drive.rootPath());
        if (!drive.name().isEmpty() && drive.name() != drive.rootPath()) {
            text += QStringLiteral(" [%1]").arg(drive.name());
        }
        Drive1->addItem(text, drive.rootPath());
    }
}

QString Extraction::DriveOf(const QString& path) const {
    const QStorageInfo info(path);
    return info.isValid() ? info.rootPath() : QDir(path).rootPath();
}

void Extraction::SelectDrive(const QString& root) {
    const QSignalBlocker block(Drive1);
    int index = Drive1->findData(root);
    if (index < 0) {
        Drive1->addItem(Native(root), root);
        index = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(index);
}

void Extraction::Drive1_Change(int index) {
    const QString root = Drive1->itemData(index).toString();
    if (root == DriveOf(fileDirectory_)) {
        return;  // the lists already show that drive, where the operator left them
    }
    const QStorageInfo info(root);
    if (root.isEmpty() || !info.isValid() || !info.isReady() || !QDir(root).isReadable()) {
        op_.beep();
        op_.message(QStringLiteral("périphérique non disponible"), AppTitle(), OperatorIcon::Error);
        SelectDrive(DriveOf(fileDirectory_));
        return;
    }
    SetDirectory(root);
}

void Extraction::SetDirectory(const QString& path) {
    const QString root = DriveOf(path);
    SelectDrive(root);
    dirModel_->setRootPath(root);
    const QModelIndex rootIndex = dirModel_->index(root);
    Dir1->setRootIndex(QDir(root).isRoot() ? rootIndex.parent() : rootIndex);
    const QModelIndex current = dirModel_->index(path);
    followCurrent_ = false;
    {
        const QSignalBlocker block(Dir1->selectionModel());
        Dir1->setCurrentIndex(current);
    }
    for (QModelIndex parent = current.parent(); parent.isValid(); parent = parent.parent()) {
        Dir1->expand(parent);
    }
    Dir1->scrollTo(current);
    fileDirectory_ = QDir(path).absolutePath();
    followCurrent_ = true;
    Dir1_Change(QModelIndex());
}

void Extraction::KeepCurrentDirectoryInView() {
    if (!followCurrent_ || scrollPosted_) {
        return;
    }
    // After the view has taken in the change.
    scrollPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPosted_ = false;
        if (followCurrent_) {
            Dir1->scrollTo(Dir1->currentIndex());
        }
    });
}

void Extraction::Dir1_Change(const QModelIndex& current) {
    if (current.isValid()) {
        fileDirectory_ = dirModel_->filePath(current);
        followCurrent_ = false;
    }
    RefreshFileList();
    selectedFile_.clear();
    currentName_.clear();
}

void Extraction::RefreshFileList() {
    // A fresh model reads the directory anew, so a file just created is listed.
    auto* model = new QFileSystemModel(this);
    model->setIconProvider(QuietFileIcons());
    model->setFilter(QDir::Files | QDir::NoDotAndDotDot);
    model->setNameFilters({kPattern});
    model->setNameFilterDisables(false);
    model->setReadOnly(true);
    model->setRootPath(fileDirectory_);
    File1->setModel(model);
    File1->setRootIndex(model->index(fileDirectory_));
    // The arrow keys select a file as a click does.
    connect(
        File1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this, model](const QItemSelection& selected) {
            const QModelIndex index = selected.indexes().value(0);
            if (model == fileModel_ && index.isValid() && model->fileName(index) != currentName_) {
                File1_Click(index);
            }
        });
    connect(model, &QFileSystemModel::directoryLoaded, this, [this, model] {
        if (model == fileModel_ && !currentName_.isEmpty()) {
            File1->setCurrentIndex(model->index(FullPath()));
        }
    });
    if (fileModel_ != nullptr) {
        fileModel_->deleteLater();
    }
    fileModel_ = model;
}

QString Extraction::FullPath() const {
    return QDir(fileDirectory_).filePath(currentName_);
}

bool Extraction::FileListHoldsFiles() const {
    return !QDir(fileDirectory_).entryList({kPattern}, QDir::Files).isEmpty();
}

void Extraction::File1_Click(const QModelIndex& index) {
    currentName_ = fileModel_->fileName(index);
    selectedFile_ = currentName_;
}

void Extraction::Command1_Click() {
    if (exporting_) {
        op_.beep();
        return;
    }
    ResetLoggerFile();
}

void Extraction::Command2_Click() {
    hide();
}

void Extraction::Command3_Click() {
    if (exporting_) {
        op_.beep();
        return;
    }
    if (selectedFile_.isEmpty()) {
        op_.beep();
        op_.message(QStringLiteral("Sélectionner un fichier"), AppTitle(), OperatorIcon::Error);
        return;
    }
    selectedFile_ = FullPath();

    ExportOptions options;
    options.outputDirectory = QDir::current();
    const QString point = QLocale::system().decimalPoint();
    options.decimalSeparator = point.isEmpty() ? QLatin1Char(',') : point.at(0);
    options.messageTitle = AppTitle();

    // Only the latest line can ever be seen, so the label takes it once per turn of the event
    // loop rather than once per record (that alone would double the time of a long export).
    QPointer<Extraction> self(this);
    exporting_ = true;
    const Status status = ExportLoggerFile(
        selectedFile_, op_,
        [self](const QString& line) {
            if (self) {
                self->ShowProgress(line);
            }
        },
        options);
    Q_UNUSED(status);  // the export told the operator how it ended
    if (self) {
        exporting_ = false;
        ApplyProgress();
    }
}

void Extraction::ShowProgress(const QString& line) {
    progressLine_ = line;
    if (!progressPosted_) {
        progressPosted_ = true;
        QMetaObject::invokeMethod(this, &Extraction::ApplyProgress, Qt::QueuedConnection);
    }
}

void Extraction::ApplyProgress() {
    progressPosted_ = false;
    if (!progressLine_.isNull()) {
        Label2->setText(progressLine_);
        progressLine_ = QString();
    }
}

void Extraction::ResetLoggerFile() {
    const bool holdsFiles = FileListHoldsFiles();
    if (selectedFile_.isEmpty() && holdsFiles) {
        op_.beep();
        op_.message(QStringLiteral("Sélectionner un fichier"), AppTitle(), OperatorIcon::Error);
        return;
    }
    if (holdsFiles) {
        if (op_.askYesNo(QStringLiteral("Confirmer la RAZ"), AppTitle(),
                         OperatorIcon::Exclamation)) {
            selectedFile_ = FullPath();
            Q_UNUSED(TruncateFile(selectedFile_));
        }
        return;
    }
    if (op_.askYesNo(QStringLiteral("Créer un fichier ? "), AppTitle(), OperatorIcon::Question)) {
        op_.beep();
        selectedFile_ = QDir(fileDirectory_).filePath(kDefaultLoggerName);
        if (TruncateFile(selectedFile_)) {
            // The new file becomes the list's current file, so that the selected file names
            // a file and not the bare directory.
            currentName_ = kDefaultLoggerName;
            RefreshFileList();
        }
    }
}

bool Extraction::TruncateFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        op_.beep();
        op_.message(QStringLiteral("Impossible d'écrire le fichier %1 : %2")
                        .arg(Native(path), file.errorString()),
                    AppTitle(), OperatorIcon::Error);
        return false;
    }
    file.close();
    return true;
}

}  // namespace merival
