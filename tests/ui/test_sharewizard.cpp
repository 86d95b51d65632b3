#include "catalog/progress.h"
#include "db/cursor.h"
#include "db/database.h"
#include "service/session.h"
#include "ui/commands.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/progressform.h"
#include "ui/sharewizard.h"
#include "uitest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace mr {
namespace {

const QString kDb = QString::fromLatin1(db::kDatabaseName);

class ShareWizard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.isValid());
        ASSERT_TRUE(m_disk.isValid());
        db::Database::createTables(m_data.path());
        db::Database::connect(kDb, m_data.path());
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
    void TearDown() override { db::Database::disconnect(kDb); }

    void checkType(const QString& type, bool on) {
        for (int i = 0; i < m_wizard.lstTypes()->count(); ++i) {
            QListWidgetItem* item = m_wizard.lstTypes()->item(i);
            if (item->text() == type)
                item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        }
    }

    // Each catalog row as "parent name/name" ("/name" at the top) with its parent id.
    std::map<QString, int> rows() const {
        std::map<QString, int> out;
        std::map<int, QString> names;
        db::Cursor files(kDb, QStringLiteral("files"));
        for (; !files.eof(); files.next())
            names[static_cast<int>(files.asInteger(u"id"))] = files.asString(u"Name");
        for (files.first(); !files.eof(); files.next()) {
            const int parent = static_cast<int>(files.asInteger(u"ParentId"));
            const QString prefix = parent == -1 ? QString() : names[parent];
            out[prefix + u'/' + files.asString(u"Name")] = parent;
        }
        return out;
    }

    QTemporaryDir m_data;
    QTemporaryDir m_disk;
    QString m_root;
    TfrmShareWizard m_wizard;
};

TEST_F(ShareWizard, StartsOnTheMasksPageWithTheDefaultTypes) {
    TfrmShareWizard fresh;
    EXPECT_EQ(fresh.windowTitle(), "Welcome to Moonrake's sharing wizard");
    EXPECT_EQ(fresh.edtSearchIn()->text(), QDir::homePath());
    QStringList types;
    QStringList checked;
    for (int i = 0; i < fresh.lstTypes()->count(); ++i) {
        types << fresh.lstTypes()->item(i)->text();
        if (fresh.lstTypes()->item(i)->checkState() == Qt::Checked)
            checked << types.last();
    }
    EXPECT_EQ(types.join(' '),
              "MP2 MP3 VQF MPG MPEG MOV AVI ASF VIV RM GIF JPG JPEG BMP ARJ ZIP RAR ACE");
    EXPECT_EQ(checked.join(' '), "MP2 MP3 VQF MPG MPEG MOV AVI ASF VIV RM");
    EXPECT_FALSE(fresh.lstTypes()->isEnabled());
    EXPECT_FALSE(fresh.chkCustom()->isEnabled());
    EXPECT_FALSE(fresh.edtCustom()->isEnabled());
    EXPECT_EQ(fresh.pages()->currentIndex(), 0);
    EXPECT_FALSE(fresh.btnBack()->isEnabled());
    EXPECT_TRUE(fresh.btnNext()->isEnabled());
    EXPECT_FALSE(fresh.btnFinish()->isEnabled());
    EXPECT_EQ(fresh.btnNext()->text(), "&Next >");
    EXPECT_EQ(fresh.btnBack()->text(), "< &Back");

    fresh.setFolderChooser([](QWidget*) { return QStringLiteral("/srv/media"); });
    fresh.btnChooseDir()->click();
    EXPECT_EQ(fresh.edtSearchIn()->text(), "/srv/media");
    fresh.setFolderChooser([](QWidget*) { return QString(); });
    fresh.btnChooseDir()->click();
    EXPECT_EQ(fresh.edtSearchIn()->text(), "/srv/media");
}

TEST_F(ShareWizard, ScanListsEachFolderHoldingMatchingFiles) {
    m_wizard.btnNext()->click();
    EXPECT_EQ(m_wizard.pages()->currentIndex(), 1);
    EXPECT_TRUE(m_wizard.btnBack()->isEnabled());
    EXPECT_FALSE(m_wizard.btnNext()->isEnabled());
    EXPECT_TRUE(m_wizard.btnFinish()->isEnabled());
    EXPECT_TRUE(m_wizard.animation()->isHidden());
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
    EXPECT_TRUE(m_wizard.extensions().contains("jpg"));
    EXPECT_FALSE(m_wizard.extensions().contains("mp3"));

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
    {
        db::Cursor files(kDb, QStringLiteral("files"));
        files.append();
        files.setInteger(u"ParentId", -1);
        files.setString(u"Name", "Live");
        files.setString(u"FileName", "(Pure Virtual)Live");
        files.setInteger(u"Attributes", 1);
        files.setInteger(u"FileSize", -1);
        files.setString(u"Action", "A");
        files.post();
    }
    m_wizard.btnNext()->click();
    ASSERT_EQ(m_wizard.locations().size(), 3);
    m_wizard.lstLocation()->item(0)->setSelected(true);
    m_wizard.actRemove()->trigger();
    EXPECT_EQ(m_wizard.locations(), QStringList({m_root + "Music/", m_root + "Music/Live/"}));

    m_wizard.show();
    m_wizard.btnFinish()->click();
    EXPECT_EQ(m_wizard.result(), QDialog::Accepted);
    EXPECT_FALSE(m_wizard.isVisible());
    const std::map<QString, int> expected = {{"/Live", -1},      {"/Music", -1},
                                             {"Music/a.mp3", 0}, {"/Live1", -1},
                                             {"Live1/b.MP3", 0}, {"Live1/c.avi", 0}};
    std::map<QString, int> got = rows();
    for (auto& [path, parent] : got) {
        if (parent != -1)
            parent = 0;
    }
    EXPECT_EQ(got, expected);
}

TEST_F(ShareWizard, AFolderGoneBeforeFinishStopsTheLoopWithAMessage) {
    TCatalogPrompts saved = catalogPrompts();
    QStringList warnings;
    catalogPrompts().warning = [&](QWidget*, const QString& text) { warnings << text; };
    m_wizard.btnNext()->click();
    ASSERT_EQ(m_wizard.locations().size(), 3);
    QDir(m_root + ".hidden").removeRecursively();
    m_wizard.btnFinish()->click();
    catalogPrompts() = saved;
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(".hidden"));
    EXPECT_TRUE(rows().empty());
}

TEST(ShareWizardCommand, OpensFromTheCommandAndOnceAfterTheFirstSignOn) {
    TfrmMain frame;
    TDesktopSession desktop(frame);
    QAction* command = frame.commands().actShareWizard;
    EXPECT_TRUE(command->isEnabled());

    int opened = 0;
    // Closes each wizard as soon as its modal loop runs.
    auto closeWizards = [&] {
        QTimer* poll = new QTimer(&frame);
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            if (auto* w = qobject_cast<TfrmShareWizard*>(QApplication::activeModalWidget())) {
                ++opened;
                w->reject();
                poll->deleteLater();
            }
        });
        poll->start(10);
        return poll;
    };
    QPointer<QTimer> poll = closeWizards();
    command->trigger();
    EXPECT_EQ(opened, 1);
    delete poll.data();

    frame.setFirstRun(true);
    poll = closeWizards();
    emit desktop.session().signedOn();
    EXPECT_FALSE(frame.firstRun());
    EXPECT_TRUE(test::waitUntil([&] { return opened == 2; }));
    emit desktop.session().signedOn();
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, 2);
    delete poll.data();
}

}  // namespace
}  // namespace mr
