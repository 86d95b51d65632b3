#include "catalog/progress.h"
#include "catalogfixture.h"
#include "ui/progressform.h"
#include "ui/sharewizard.h"
#include "uitest.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mr {
namespace {

class ShareWizard : public test::CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        m_root = m_disk.path() + u'/';
        for (const char* name :
             {"Music/a.mp3", "Music/notes.txt", "Music/Live/b.MP3", "Music/Live/c.avi",
              "Pictures/p.jpg", "Docs/d.txt", ".hidden/h.mpeg", "Music/Live/deep/readme"}) {
            QDir(m_disk.path()).mkpath(QFileInfo(m_disk.filePath(name)).path());
            QFile f(m_disk.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("data");
        }
        // A link back up the tree must not make the walk loop.
        QFile::link(m_disk.path(), m_disk.filePath("Music/Live/deep/loop"));
        m_wizard.edtSearchIn()->setText(m_disk.path());
        m_wizard.setProgressView(&silentProgressView());
    }
    void checkType(const QString& type, bool on) {
        for (int i = 0; i < m_wizard.lstTypes()->count(); ++i) {
            QListWidgetItem* item = m_wizard.lstTypes()->item(i);
            if (item->text() == type)
                item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        }
    }

    // Each catalog row as "parent name/name" ("/name" at the top), sorted.
    QStringList rows() const {
        QStringList out = rawQuery("files.dat",
                                   "select group_concat(ifnull(p.Name, '') || '/' || f.Name, '|') "
                                   "from files f left join files p on p.id = f.ParentId")
                              .split(u'|', Qt::SkipEmptyParts);
        out.sort();
        return out;
    }

    QTemporaryDir m_disk;
    QString m_root;
    TfrmShareWizard m_wizard;
};

TEST_F(ShareWizard, ScanListsEachFolderHoldingMatchingFiles) {
    EXPECT_FALSE(m_wizard.btnBack()->isEnabled());
    EXPECT_FALSE(m_wizard.btnFinish()->isEnabled());
    // A cancelled folder choice keeps the folder.
    m_wizard.setFolderChooser([](QWidget*) { return QString(); });
    m_wizard.btnChooseDir()->click();
    m_wizard.btnNext()->click();
    EXPECT_EQ(m_wizard.pages()->currentIndex(), 1);
    EXPECT_FALSE(m_wizard.btnNext()->isEnabled());
    EXPECT_TRUE(m_wizard.btnFinish()->isEnabled());
    EXPECT_EQ(m_wizard.lblState()->text(), TfrmShareWizard::kScannedText);
    // Hidden folders count; folders of unchecked types and without matches do not.
    EXPECT_EQ(m_wizard.locations(),
              QStringList({m_root + ".hidden/", m_root + "Music/", m_root + "Music/Live/"}));

    m_wizard.lstLocation()->item(2)->setSelected(true);
    QStringList files;
    for (int i = 0; i < m_wizard.lstFiles()->count(); ++i)
        files << m_wizard.lstFiles()->item(i)->text();
    EXPECT_EQ(files, QStringList({"b.MP3", "c.avi"}));
    m_wizard.lstLocation()->item(1)->setSelected(true);
    EXPECT_EQ(m_wizard.lstFiles()->count(), 0);

    // Back leaves the results, and the extension list of a new scan replaces the old one.
    m_wizard.btnBack()->click();
    EXPECT_FALSE(m_wizard.btnFinish()->isEnabled());
    checkType("JPG", true);
    checkType("MP3", false);
    m_wizard.edtSearchIn()->setText(m_root);
    m_wizard.btnNext()->click();
    EXPECT_EQ(m_wizard.locations(),
              QStringList({m_root + ".hidden/", m_root + "Music/Live/", m_root + "Pictures/"}));

    m_wizard.btnBack()->click();
    m_wizard.chkCustom()->setChecked(true);
    m_wizard.edtCustom()->setText("txt  .MP3");
    m_wizard.btnNext()->click();
    EXPECT_EQ(m_wizard.extensions(), QStringList({"txt", "mp3"}));
    EXPECT_EQ(m_wizard.locations(),
              QStringList({m_root + "Docs/", m_root + "Music/", m_root + "Music/Live/"}));
}

TEST_F(ShareWizard, FinishSharesEachListedFolderWithItsOwnMatchingFiles) {
    // A top-level name already in use gets a number.
    addRow("Live", -1, -1);
    m_wizard.btnNext()->click();
    ASSERT_EQ(m_wizard.locations().size(), 3);
    m_wizard.lstLocation()->item(0)->setSelected(true);
    m_wizard.actRemove()->trigger();
    EXPECT_EQ(m_wizard.locations(), QStringList({m_root + "Music/", m_root + "Music/Live/"}));

    m_wizard.show();
    m_wizard.btnFinish()->click();
    EXPECT_EQ(m_wizard.result(), QDialog::Accepted);
    EXPECT_FALSE(m_wizard.isVisible());
    EXPECT_EQ(rows(), QStringList({"/Live", "/Live1", "/Music", "Live1/b.MP3", "Live1/c.avi",
                                   "Music/a.mp3"}));
}

TEST_F(ShareWizard, AFolderGoneBeforeFinishStopsTheLoopWithAMessage) {
    m_wizard.btnNext()->click();
    ASSERT_EQ(m_wizard.locations().size(), 3);
    QDir(m_root + ".hidden").removeRecursively();
    m_wizard.btnFinish()->click();
    ASSERT_EQ(m_warnings.size(), 1);
    EXPECT_TRUE(m_warnings[0].contains(".hidden"));
    EXPECT_TRUE(rows().isEmpty());
}

}  // namespace
}  // namespace mr
