#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/localmrtree.h"
#include "db/cursor.h"
#include "db/database.h"
#include "ui/progressform.h"
#include "uitest.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace mr {
namespace {

const QString kDb = QString::fromLatin1(db::kDatabaseName);

int fileRows() {
    db::Cursor files(kDb, QStringLiteral("files"));
    return files.recordCount();
}

TEST(ProgressForm, FollowsTheWorkersPostsAndOnlyCancels) {
    TProgress progress;
    TProgressForm form(progress, "Please Wait", "Reading Data");
    EXPECT_EQ(form.windowTitle(), "Please Wait");
    EXPECT_EQ(form.lblText()->text(), "Reading Data");
    EXPECT_EQ(form.btnCancel()->text(), "Cancel");
    form.show();

    // Posts from another thread arrive through the event loop.
    std::thread worker([&] {
        progress.postText(QStringLiteral("Sharing Files"));
        progress.postProgress(TProgress::percentage(50, 100));
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return form.gauge()->value() == 47; }));
    EXPECT_EQ(form.lblText()->text(), "Sharing Files");
    progress.postProgress(TProgress::kFull);
    EXPECT_EQ(form.gauge()->value(), form.gauge()->maximum());

    // Escape and Cancel set the flag; the window waits for the worker's close.
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(progress.cancelled());
    EXPECT_TRUE(form.isVisible());
    QTest::mouseClick(form.btnCancel(), Qt::LeftButton);
    EXPECT_TRUE(form.isVisible());
    progress.postClose();
    EXPECT_TRUE(test::waitUntil([&] { return !form.isVisible(); }));
}

TEST(ProgressForm, ConfirmationsAskWithTheirTexts) {
    TCatalogPrompts saved = catalogPrompts();
    QStringList asked;
    bool answer = false;
    catalogPrompts().yesNo = [&](QWidget*, const QString& text) {
        asked << text;
        return answer;
    };
    EXPECT_TRUE(confirmShare(nullptr, 1000));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(confirmShare(nullptr, 1001));
    answer = true;
    EXPECT_TRUE(confirmRemove(nullptr, "/Music/Live"));
    catalogPrompts() = saved;
    EXPECT_EQ(asked,
              QStringList({shareConfirmationText(1001), removeConfirmationText("/Music/Live")}));
    EXPECT_TRUE(asked[0].startsWith("You are about to share 1001 file(s)\n"));
}

// A catalog on a fresh data folder, with a small disk tree to share.
class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.isValid());
        ASSERT_TRUE(m_disk.isValid());
        db::Database::createTables(m_data.path());
        db::Database::connect(kDb, m_data.path());
        QDir(m_disk.path()).mkpath("Music/Live");
        for (const char* name : {"Music/a.mp3", "Music/Live/b.mp3", "Music/Live/c.ogg"}) {
            QFile f(m_disk.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        m_tree.setProgressView(&m_view);
    }
    void TearDown() override { db::Database::disconnect(kDb); }

    TShareOutcome shareMusic() {
        auto node = TActualFileNode::fromPath(m_disk.filePath("Music"));
        EXPECT_TRUE(node);
        return m_tree.ShareFolder(node.get(), "/Music", true, {});
    }

    QTemporaryDir m_data;
    QTemporaryDir m_disk;
    TProgressFormView m_view;
    TLocalMRTree m_tree{nullptr, nullptr};
};

TEST_F(ProgressWindow, ShowsAShareToTheEndAndClosesItself) {
    QStringList seen;
    int finalGauge = -2;
    m_view.setShownHook([&](TProgressForm& form) {
        seen << form.windowTitle() + ": " + form.lblText()->text();
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.isModal());
        QObject::connect(&form, &QDialog::finished, [&] {
            seen << form.lblText()->text();
            finalGauge = form.gauge()->value();
        });
    });
    const TShareOutcome outcome = shareMusic();
    EXPECT_EQ(outcome.kind, TShareOutcome::Kind::Shared);
    EXPECT_EQ(outcome.rows, 5);
    EXPECT_EQ(fileRows(), 5);
    EXPECT_EQ(seen, QStringList({"Please Wait: Reading Data", "Sharing Files"}));
    EXPECT_EQ(finalGauge, 100);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(m_tree.progressTotal(), -1);

    // The removal shows its own text and runs through the same window.
    seen.clear();
    auto item = m_tree.ItemAt("/Music");
    ASSERT_TRUE(item);
    EXPECT_EQ(m_tree.RemoveShare(*item), TRemoveOutcome::Removed);
    EXPECT_EQ(seen, QStringList({"Please Wait: Reading Data", "Removing Share"}));
    EXPECT_EQ(fileRows(), 1);
}

TEST_F(ProgressWindow, CancelBeforeTheFirstItemWritesNothing) {
    m_view.setShownHook([](TProgressForm& form) { form.btnCancel()->click(); });
    EXPECT_EQ(shareMusic().kind, TShareOutcome::Kind::Cancelled);
    EXPECT_EQ(fileRows(), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace mr
