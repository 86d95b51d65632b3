#include "catalog/fileitem.h"
#include "catalog/localmrtree.h"
#include "db/cursor.h"
#include "db/database.h"
#include "ui/progressform.h"
#include "ui/shareprop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace mr {
namespace {

const QString kDb = QString::fromLatin1(db::kDatabaseName);

struct Row {
    QString password;
    QString action;
    QString fileName;
    qint64 size = 0;
};

class ShareProp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.isValid());
        db::Database::createTables(m_data.path());
        db::Database::connect(kDb, m_data.path());
        m_saved = catalogPrompts();
        catalogPrompts().warning = [this](QWidget*, const QString& text) { m_warnings << text; };
        const int music = addRow(-1, "Music", 1, -1, "A");
        m_songId = addRow(music, "Song's.mp3", 0, 1234, "");
    }
    void TearDown() override {
        catalogPrompts() = m_saved;
        db::Database::disconnect(kDb);
    }

    int addRow(int parent, const QString& name, int attributes, int size, const QString& action) {
        db::Cursor files(kDb, QStringLiteral("files"));
        files.append();
        files.setInteger(u"ParentId", parent);
        files.setString(u"Name", name);
        files.setString(u"FileName", "/disk/" + name);
        files.setInteger(u"Attributes", attributes);
        files.setInteger(u"FileSize", size);
        files.setString(u"Action", action);
        files.setString(u"Password", QStringLiteral("old"));
        files.post();
        return static_cast<int>(files.asInteger(u"id"));
    }

    Row row(int id) const {
        db::Cursor files(kDb, QStringLiteral("files"));
        for (; !files.eof(); files.next()) {
            if (files.asInteger(u"id") == id)
                return {files.asString(u"Password"), files.asString(u"Action"),
                        files.asString(u"FileName"), files.asInteger(u"FileSize")};
        }
        return {};
    }

    QTemporaryDir m_data;
    TCatalogPrompts m_saved;
    QStringList m_warnings;
    int m_songId = 0;
    TLocalMRTree m_catalog{nullptr, nullptr};
};

TEST_F(ShareProp, OpensWithTheItemsSettings) {
    auto item = m_catalog.ItemAt("/music/song's.MP3");
    ASSERT_TRUE(item);
    item->friendsOnly = true;
    item->ratio = std::make_unique<TFileRatio>(3, 7, 'f');
    TdlgShareProp dialog(*item, &m_catalog);
    EXPECT_EQ(dialog.windowTitle(), "Share Properties");
    EXPECT_EQ(dialog.edtPassword()->text(), "old");
    EXPECT_EQ(dialog.edtVerify()->text(), "old");
    EXPECT_EQ(dialog.edtPassword()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.chkPassword()->isChecked());
    EXPECT_TRUE(dialog.chkFriendsOnly()->isChecked());
    EXPECT_TRUE(dialog.chkRatio()->isChecked());
    EXPECT_EQ(dialog.spnUpload()->value(), 3);
    EXPECT_EQ(dialog.spnDownload()->value(), 7);
    EXPECT_EQ(dialog.cmbStyle()->currentText(), "Bytes");

    // A disabled ratio shows the defaults.
    item->ratio->enabled = false;
    TdlgShareProp plain(*item, nullptr);
    EXPECT_FALSE(plain.chkRatio()->isChecked());
    EXPECT_EQ(plain.spnUpload()->value(), 1);
    EXPECT_EQ(plain.spnDownload()->minimum(), 0);

    // Typing checks the box exactly when the field is not empty.
    plain.show();
    plain.edtPassword()->clear();
    QTest::keyClicks(plain.edtPassword(), "s");
    EXPECT_TRUE(plain.chkPassword()->isChecked());
    QTest::keyClick(plain.edtPassword(), Qt::Key_Backspace);
    EXPECT_FALSE(plain.chkPassword()->isChecked());
}

TEST_F(ShareProp, MismatchKeepsTheDialogAndChangesNothing) {
    auto item = m_catalog.ItemAt("/Music/Song's.mp3");
    ASSERT_TRUE(item);
    TdlgShareProp dialog(*item, &m_catalog);
    dialog.show();
    dialog.edtPassword()->setText("new");
    dialog.edtVerify()->setText("newer");
    dialog.chkPassword()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(m_warnings, QStringList({"Please re-type your password."}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(item->password, "old");
    EXPECT_EQ(row(m_songId).password, "old");
}

TEST_F(ShareProp, OkEditsTheItemAndStoresOnlyThePassword) {
    auto item = m_catalog.ItemAt("/Music/Song's.mp3");
    ASSERT_TRUE(item);
    const Row before = row(m_songId);
    TdlgShareProp dialog(*item, &m_catalog);
    dialog.show();
    dialog.edtPassword()->setText("s3cret");
    dialog.edtVerify()->setText("s3cret");
    dialog.chkFriendsOnly()->setChecked(true);
    dialog.chkRatio()->setChecked(true);
    dialog.spnUpload()->setValue(2);
    dialog.spnDownload()->setValue(0);
    dialog.cmbStyle()->setCurrentIndex(0);
    dialog.accept();
    EXPECT_TRUE(m_warnings.isEmpty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    EXPECT_EQ(item->password, "s3cret");
    EXPECT_TRUE(item->friendsOnly);
    ASSERT_TRUE(item->ratio);
    EXPECT_TRUE(item->ratio->enabled);
    EXPECT_EQ(item->ratio->upload, 2);
    EXPECT_EQ(item->ratio->download, 0);
    EXPECT_EQ(item->ratio->style, 'b');

    const Row after = row(m_songId);
    EXPECT_EQ(after.password, "s3cret");
    // The entry goes out again, so that the service learns it has a password now.
    EXPECT_EQ(after.action, "A");
    EXPECT_EQ(after.fileName, before.fileName);
    EXPECT_EQ(after.size, before.size);
    // The folder's own row keeps its password.
    EXPECT_EQ(row(m_songId - 1).password, "old");

    // Clearing both fields removes the password from the catalog too.
    TdlgShareProp again(*item, &m_catalog);
    again.edtPassword()->clear();
    again.edtVerify()->clear();
    again.chkPassword()->setChecked(false);
    again.accept();
    EXPECT_EQ(item->password, "");
    EXPECT_EQ(row(m_songId).password, "");
}

TEST_F(ShareProp, AnEntryGoneFromTheCatalogIsEditedInMemoryOnly) {
    TLocalFileItem item("Gone.mp3", "/Music/");
    item.size = 10;
    TdlgShareProp dialog(item, &m_catalog);
    dialog.edtPassword()->setText("p");
    dialog.edtVerify()->setText("p");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item.password, "p");
    EXPECT_EQ(row(m_songId).password, "old");
}

}  // namespace
}  // namespace mr
