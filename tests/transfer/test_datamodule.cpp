#include "e2e/process.h"
#include "net/rawpeer.h"
#include "testutil.h"

#include "catalog/actualfilenode.h"
#include "catalog/localmrtree.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "db/database.h"
#include "db/statement.h"
#include "transfer/datamodule.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

using mr::TMRDataModule;

namespace {

// Holds the share worker at its first progress post, inside its transaction, while the main
// thread runs `meanwhile` in the progress window's loop.
class HoldingView : public mr::ProgressView {
public:
    explicit HoldingView(std::function<void()> meanwhile) : m_meanwhile(std::move(meanwhile)) {}

    void exec(mr::Progress& progress, const QString& caption, const QString& text,
              const std::function<void()>& start) override {
        QObject::connect(
            &progress, &mr::Progress::progressChanged, &progress,
            [this](int percent) {
                if (percent >= 0 && QThread::currentThread() != qApp->thread()) {
                    m_held.release();
                    m_released.acquire();
                    m_released.release();  // later posts pass
                }
            },
            Qt::DirectConnection);
        ProgressView::exec(progress, caption, text, [&] {
            start();
            EXPECT_TRUE(m_held.tryAcquire(1, 30000));
            m_meanwhile();
            m_released.release();
        });
    }

private:
    std::function<void()> m_meanwhile;
    QSemaphore m_held;
    QSemaphore m_released;
};

}  // namespace

TEST(DataModule, PeersAreAnsweredAndSyncsWaitWhileAShareWritesTheCatalog) {
    QTemporaryDir dir, disk;
    mr::setActiveProfile(dir.path());
    mr::UserInfo().setNickname("olga");
    TMRDataModule module(dir.path());
    ASSERT_EQ(module.create(), TMRDataModule::StartResult::Started);
    ASSERT_TRUE(mr::test::writeFile(disk.filePath("pub/a.txt"), "hello"));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(mr::test::writeFile(disk.filePath(QString("big/f%1").arg(i)), "x"));

    mr::TLocalMRTree tree(nullptr, nullptr);
    auto pub = mr::TActualFileNode::fromPath(disk.filePath("pub"));
    ASSERT_EQ(tree.ShareFolder(pub.get(), "/pub", true, {}).kind, mr::ShareOutcome::Kind::Shared);
    mr::db::Statement publish(QString::fromLatin1(mr::db::kDatabaseName));
    publish.setText("update files set action = '' where id in (1,2)");
    ASSERT_EQ(publish.execute(), 2);

    QList<QByteArray> replies;
    bool deferred = false;
    HoldingView view([&] {
        mr::test::RawPeer peer;
        ASSERT_TRUE(peer.connectTo(module.fileServerPort()));
        ASSERT_TRUE(peer.login("bob", ""));
        replies << peer.ask("CHKP /pub/a.txt");
        mr::test::DataSink sink;
        replies << peer.ask("PORT " + sink.portArgument());
        replies << peer.ask("REQD /pub/");
        mr::TLocalMRTree other(nullptr, nullptr);
        deferred = other.UpdateServer().deferred;
    });
    tree.setProgressView(&view);
    auto big = mr::TActualFileNode::fromPath(disk.filePath("big"));
    const auto outcome = tree.ShareFolder(big.get(), "/big", true, {});
    EXPECT_EQ(replies, (QList<QByteArray>{"0 0 0 0 5", "200 Port command successful.",
                                          "150 Opening data connection for directory list."}));
    EXPECT_TRUE(deferred);
    EXPECT_EQ(outcome.kind, mr::ShareOutcome::Kind::Shared);
    EXPECT_EQ(outcome.rows, 51);
    tree.setProgressView(nullptr);
    EXPECT_FALSE(tree.UpdateServer().deferred);
}
