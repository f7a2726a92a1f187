#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QFileSystemModel;
class QLabel;
class QListView;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace merival {

class Operator;

// The extraction dialog: pick a logger file, reset it or export it.
class Extraction : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Reset, Export };

    explicit Extraction(Operator& op, QWidget* parent = nullptr);
    ~Extraction() override;

    // Shows the dialog (loading it on first use), then enables exactly the action button of the
    // mode.
    void ShowInMode(Mode mode);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    void Drive1_Change(int index);
    void Dir1_Change(const QModelIndex& current);
    void File1_Click(const QModelIndex& index);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    void ResetLoggerFile();
    void FillDrives();
    void SetDirectory(const QString& path);
    void RefreshFileList();
    void KeepCurrentDirectoryInView();
    [[nodiscard]] QString FullPath() const;
    [[nodiscard]] bool FileListHoldsFiles() const;
    [[nodiscard]] QString DriveOf(const QString& path) const;
    void SelectDrive(const QString& root);
    [[nodiscard]] bool TruncateFile(const QString& path);
    void ShowProgress(const QString& line);
    void ApplyProgress();

    Operator& op_;
    bool loaded_ = false;
    bool exporting_ = false;
    QString selectedFile_;  // empty, the clicked name, or the full path once acted on
    QString currentName_;   // the file list's current file
    QString fileDirectory_;
    bool followCurrent_ = false;  // the current directory is kept in view
    bool scrollPosted_ = false;
    QString progressLine_;  // not yet in Label2
    bool progressPosted_ = false;

    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QListView* File1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* Label2 = nullptr;
    QFileSystemModel* dirModel_ = nullptr;
    QFileSystemModel* fileModel_ = nullptr;
};

}  // namespace merival
