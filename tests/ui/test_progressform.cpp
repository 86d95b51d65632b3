#include "catalog/actualfilenode.h"
#include "catalog/confirmations.h"
#include "catalog/localmrtree.h"
#include "catalogfixture.h"
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

TEST(ProgressForm, FollowsTheWorkersPostsAndOnlyCancels) {
    Progress progress;
    TProgressForm form(progress, "Please Wait", "Reading Data");
    form.show();

    // Posts from another thread arrive through the event loop.
    std::thread worker([&] {
        progress.postText(QStringLiteral("Sharing Files"));
        progress.postProgress(Progress::percentage(50, 100));
    });
    worker.join();
    ASSERT_TRUE(test::waitUntil([&] { return form.gauge()->value() == 47; }));
    EXPECT_EQ(form.lblText()->text(), "Sharing Files");
    progress.postProgress(Progress::kFull);
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

// A catalog on a fresh data folder, with a small disk tree to share.
class ProgressWindow : public test::CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        QDir(m_disk.path()).mkpath("Music/Live");
        for (const char* name : {"Music/a.mp3", "Music/Live/b.mp3", "Music/Live/c.ogg"}) {
            QFile f(m_disk.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        m_tree.setProgressView(&m_view);
    }
    ShareOutcome shareMusic() {
        auto node = TActualFileNode::fromPath(m_disk.filePath("Music"));
        EXPECT_TRUE(node);
        return m_tree.ShareFolder(node.get(), "/Music", true, {});
    }

    QTemporaryDir m_disk;
    ProgressFormView m_view;
    TLocalMRTree m_tree{nullptr, nullptr};
};

TEST_F(ProgressWindow, ShowsAShareToTheEndAndClosesItself) {
    // Up to the limit a share goes ahead without a question.
    EXPECT_TRUE(confirmShare(nullptr, kShareConfirmLimit));
    EXPECT_FALSE(confirmShare(nullptr, kShareConfirmLimit + 1));
    ASSERT_EQ(m_asked, QStringList({shareConfirmationText(1001)}));
    EXPECT_TRUE(m_asked[0].startsWith("You are about to share 1001 file(s)\n"));

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
    EXPECT_EQ(shareMusic().kind, ShareOutcome::Kind::Shared);
    EXPECT_EQ(seen, QStringList({"Please Wait: Reading Data", "Sharing Files"}));
    EXPECT_EQ(finalGauge, 100);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The removal shows its own text and runs through the same window.
    seen.clear();
    auto item = m_tree.ItemAt("/Music");
    ASSERT_TRUE(item);
    EXPECT_EQ(m_tree.RemoveShare(*item), RemoveOutcome::Removed);
    EXPECT_EQ(seen, QStringList({"Please Wait: Reading Data", "Removing Share"}));
}

TEST_F(ProgressWindow, CancelBeforeTheFirstItemWritesNothing) {
    m_view.setShownHook([](TProgressForm& form) { form.btnCancel()->click(); });
    EXPECT_EQ(shareMusic().kind, ShareOutcome::Kind::Cancelled);
    EXPECT_EQ(rawQuery("files.dat", "select count(*) from files"), "0");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace mr
