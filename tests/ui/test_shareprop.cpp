#include "catalog/fileitem.h"
#include "catalog/localmrtree.h"
#include "catalogfixture.h"
#include "ui/shareprop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace mr {
namespace {

// A synced song with the password "old" in a shared folder.
class ShareProp : public test::CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        addRow("Song's.mp3", addRow("Music", -1, -1), 1234, "");
        rawExec("files.dat", "update files set Password = 'old'");
    }

    TLocalMRTree m_catalog{nullptr, nullptr};
};

TEST_F(ShareProp, OpensWithTheItemsSettingsAndTypingTicksThePasswordBox) {
    auto item = m_catalog.ItemAt("/music/song's.MP3");
    ASSERT_TRUE(item);
    item->ratio = std::make_unique<TFileRatio>(3, 7, 'f');
    TdlgShareProp dialog(*item, &m_catalog);
    EXPECT_EQ(dialog.edtVerify()->text(), "old");
    EXPECT_TRUE(dialog.chkPassword()->isChecked());
    EXPECT_EQ(dialog.spnDownload()->value(), 7);
    EXPECT_EQ(dialog.cmbStyle()->currentText(), "Bytes");

    // A disabled ratio shows the defaults.
    item->ratio->enabled = false;
    TdlgShareProp plain(*item, nullptr);
    EXPECT_FALSE(plain.chkRatio()->isChecked());
    EXPECT_EQ(plain.spnUpload()->value(), 1);

    plain.show();
    plain.edtPassword()->clear();
    QTest::keyClicks(plain.edtPassword(), "s");
    EXPECT_TRUE(plain.chkPassword()->isChecked());
    QTest::keyClick(plain.edtPassword(), Qt::Key_Backspace);
    EXPECT_FALSE(plain.chkPassword()->isChecked());
}

TEST_F(ShareProp, OkStoresThePasswordAndPublishesTheEntryAgainAMismatchChangesNothing) {
    auto item = m_catalog.ItemAt("/Music/Song's.mp3");
    ASSERT_TRUE(item);
    TdlgShareProp mismatch(*item, &m_catalog);
    mismatch.show();
    mismatch.edtPassword()->setText("new");
    mismatch.edtVerify()->setText("newer");
    mismatch.accept();
    EXPECT_EQ(m_warnings, QStringList({"Please re-type your password."}));
    EXPECT_TRUE(mismatch.isVisible());
    EXPECT_EQ(item->password, "old");
    EXPECT_EQ(field("Song's.mp3", "Password"), "old");

    TdlgShareProp dialog(*item, &m_catalog);
    dialog.edtPassword()->setText("s3cret");
    dialog.edtVerify()->setText("s3cret");
    dialog.chkFriendsOnly()->setChecked(true);
    dialog.chkRatio()->setChecked(true);
    dialog.spnUpload()->setValue(2);
    dialog.spnDownload()->setValue(0);
    dialog.cmbStyle()->setCurrentIndex(0);
    dialog.accept();
    EXPECT_EQ(m_warnings.size(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item->password, "s3cret");
    EXPECT_TRUE(item->friendsOnly);
    ASSERT_TRUE(item->ratio);
    EXPECT_TRUE(item->ratio->enabled);
    EXPECT_EQ(item->ratio->download, 0);
    EXPECT_EQ(item->ratio->style, 'b');
    // The entry goes out again, so that the service learns it has a password now; nothing
    // else of the row changes, and the folder keeps its own password.
    const QString row = QStringLiteral(
        "Password || ' ' || Action || ' ' || FileName || ' ' || "
        "FileSize");
    EXPECT_EQ(field("Song's.mp3", row), "s3cret A /disk/Song's.mp3 1234");
    EXPECT_EQ(field("Music", "Password"), "old");

    // Clearing both fields removes the password from the catalog too.
    TdlgShareProp again(*item, &m_catalog);
    again.edtPassword()->clear();
    again.edtVerify()->clear();
    again.accept();
    EXPECT_EQ(item->password, "");
    EXPECT_EQ(field("Song's.mp3", "Password"), "");
}

TEST_F(ShareProp, AnEntryGoneFromTheCatalogIsEditedInMemoryOnly) {
    TLocalFileItem item("Gone.mp3", "/Music/");
    TdlgShareProp dialog(item, &m_catalog);
    dialog.edtPassword()->setText("p");
    dialog.edtVerify()->setText("p");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item.password, "p");
    EXPECT_EQ(field("Song's.mp3", "Password"), "old");
}

}  // namespace
}  // namespace mr
