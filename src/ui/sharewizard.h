#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace mr {

class ProgressView;

// The sharing wizard: scans a folder tree for media files and shares each folder that holds
// some as a top-level share of its matching files only.
class TfrmShareWizard : public QDialog {
    Q_OBJECT
public:
    // The types offered, in order; those of the default text start checked.
    static const QStringList& fileTypes();
    static constexpr char kDefaultTypes[] = "MP2 MP3 VQF MPG MOV AVI ASF MPEG VIV RM";
    static constexpr char kScanningText[] = "Scanning hard drive for files to share";
    static constexpr char kScannedText[] =
        "The folders above will be shared.  To remove a folder, right click it and chose "
        "'remove'.";

    explicit TfrmShareWizard(QWidget* parent = nullptr);

    // Runs the wizard modally over the parent.
    static void run(QWidget* parent);

    QStackedWidget* pages() const { return m_pages; }
    QLineEdit* edtSearchIn() const { return m_edtSearchIn; }
    QPushButton* btnChooseDir() const { return m_btnChooseDir; }
    QListWidget* lstTypes() const { return m_lstTypes; }
    QCheckBox* chkCustom() const { return m_chkCustom; }
    QLineEdit* edtCustom() const { return m_edtCustom; }
    QListWidget* lstLocation() const { return m_lstLocation; }
    QListWidget* lstFiles() const { return m_lstFiles; }
    QProgressBar* animation() const { return m_animation; }
    QLabel* lblState() const { return m_lblState; }
    QPushButton* btnBack() const { return m_btnBack; }
    QPushButton* btnNext() const { return m_btnNext; }
    QPushButton* btnCancel() const { return m_btnCancel; }
    QPushButton* btnFinish() const { return m_btnFinish; }
    QAction* actRemove() const { return m_actRemove; }

    // The extensions of the last scan, lower case, without dots.
    const QStringList& extensions() const { return m_extensions; }
    // Folders found by the last scan, each with its trailing "/".
    QStringList locations() const;

    // Replaces the folder browser of "&Choose Dir" (returns the chosen folder, empty: none).
    void setFolderChooser(std::function<QString(QWidget*)> chooser) {
        m_chooser = std::move(chooser);
    }
    // The progress window of the shares made by Finish; default: the desktop's.
    void setProgressView(ProgressView* view) { m_view = view; }

public slots:
    void scan();
    void finish();
    // Also stops a scan still running.
    void reject() override;

private:
    void goToPage(int index);
    void chooseDir();
    void showFilesOfSelection();
    void removeSelectedLocations();
    // False once the scan of that generation is to stop.
    bool walk(const QString& folder, int generation, int& visited);
    bool matches(const QString& fileName) const;

    QStackedWidget* m_pages;
    QLineEdit* m_edtSearchIn;
    QPushButton* m_btnChooseDir;
    QListWidget* m_lstTypes;
    QCheckBox* m_chkCustom;
    QLineEdit* m_edtCustom;
    QListWidget* m_lstLocation;
    QListWidget* m_lstFiles;
    QProgressBar* m_animation;
    QLabel* m_lblState;
    QPushButton* m_btnBack;
    QPushButton* m_btnNext;
    QPushButton* m_btnCancel;
    QPushButton* m_btnFinish;
    QAction* m_actRemove;

    QStringList m_extensions;
    // Each scan takes the next number; a running scan stops when it is no longer current.
    int m_scanGeneration = 0;
    std::function<QString(QWidget*)> m_chooser;
    ProgressView* m_view = nullptr;
};

}  // namespace mr
