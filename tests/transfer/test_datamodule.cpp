#include "e2e/process.h"
#include "net/rawpeer.h"
#include "testutil.h"

#include "catalog/actualfilenode.h"
#include "catalog/localmrtree.h"
#include "core/profile.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "transfer/datamodule.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <condition_variable>
#include <mutex>

using mr::TMRDataModule;

namespace {

QStringList catalogIndexes() {
    mr::db::Cursor files(QString::fromLatin1(mr::db::kDatabaseName), "files");
    return files.indexNames();
}

}  // namespace

TEST(DataModule, StartAddsTheCatalogIndexOnceAndOpensThePeerSockets) {
    QTemporaryDir dir;
    mr::setActiveProfile(dir.path());
    // Tables as an older client left them: without the index.
    TMRDataModule::install(dir.path());
    mr::db::Database::connect(QString::fromLatin1(mr::db::kDatabaseName), dir.filePath("data"));
    EXPECT_TRUE(catalogIndexes().isEmpty());
    TMRDataModule module(dir.path());
    ASSERT_EQ(module.create(), TMRDataModule::StartResult::Started);
    EXPECT_EQ(catalogIndexes(), QStringList{"inxUsername"});
    // Both listen on ports the system chose, ready to be announced at sign-on.
    EXPECT_NE(module.infoPort(), 0);
    EXPECT_NE(module.fileServerPort(), 0);
    EXPECT_NE(module.infoPort(), module.fileServerPort());
    EXPECT_NE(module.wantedList(), nullptr);

    // A second start leaves the index as it is.
    TMRDataModule again(dir.path());
    ASSERT_EQ(again.create(false), TMRDataModule::StartResult::Started);
    EXPECT_EQ(catalogIndexes(), QStringList{"inxUsername"});
}

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
                if (percent < 0 || QThread::currentThread() == qApp->thread())
                    return;
                std::unique_lock lock(m_mutex);
                m_held = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_released; });
            },
            Qt::DirectConnection);
        ProgressView::exec(progress, caption, text, [&] {
            start();
            {
                std::unique_lock lock(m_mutex);
                EXPECT_TRUE(
                    m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_held; }));
            }
            m_meanwhile();
            std::lock_guard lock(m_mutex);
            m_released = true;
            m_changed.notify_all();
        });
    }

private:
    std::function<void()> m_meanwhile;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

}  // namespace

TEST(DataModule, PeersAreAnsweredAndSyncsWaitWhileAShareWritesTheCatalog) {
    QTemporaryDir dir, disk;
    mr::setActiveProfile(dir.path());
    mr::UserInfo().setNickname(QStringLiteral("olga"));
    TMRDataModule module(dir.path());
    ASSERT_EQ(module.create(), TMRDataModule::StartResult::Started);
    ASSERT_TRUE(mr::test::writeFile(disk.filePath("pub/a.txt"), "hello"));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(mr::test::writeFile(disk.filePath(QString("big/f%1").arg(i)), "x"));

    mr::TLocalMRTree tree(nullptr, nullptr);
    auto pub = mr::TActualFileNode::fromPath(disk.filePath("pub"));
    ASSERT_EQ(tree.ShareFolder(pub.get(), "/pub", true, {}).kind, mr::ShareOutcome::Kind::Shared);
    {
        mr::db::Cursor rows(QString::fromLatin1(mr::db::kDatabaseName), "files");
        for (; !rows.eof(); rows.next()) {
            rows.edit();
            rows.setString(u"Action", QString());
            rows.post();
        }
    }

    QList<QByteArray> replies;
    bool deferred = false;
    HoldingView view([&] {
        mr::test::RawPeer peer;
        ASSERT_TRUE(peer.connectTo(module.fileServerPort()));
        ASSERT_TRUE(peer.login("bob", ""));
        const char reqf[] = "REQF /pub/a.txt*0*1*42\0";
        replies << peer.ask(QByteArray(reqf, sizeof reqf - 1));
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
    EXPECT_EQ(replies, (QList<QByteArray>{"0 0 0 0 5", "0 0 0 0 5", "200 Port command successful.",
                                          "150 Opening data connection for directory list."}));
    EXPECT_TRUE(deferred);
    EXPECT_EQ(outcome.kind, mr::ShareOutcome::Kind::Shared);
    EXPECT_EQ(outcome.rows, 51);
    tree.setProgressView(nullptr);
    EXPECT_FALSE(tree.UpdateServer().deferred);
}
