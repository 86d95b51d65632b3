#include "process.h"
#include "serverprocess.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

using namespace mr;
using test::cli;

// Alice asks Bob for a chat twice: his client accepts every chat the first time and they type
// a few lines each way; a client that does not accept chats declines the second request.
TEST(Chat, AcceptedWithLinesBothWaysThenDeclined) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());
    ASSERT_EQ(m.aliceId, 1);
    const QString id = QString::number(m.bobId);
    {
        test::Serving serving(m.bob, {"--accept-chats"});
        ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
        std::unique_ptr<QProcess> chat(
            test::startProgram("moonrake-cli", {"--profile", m.alice, "chat", id, "say hi"}));
        QString out;
        QObject::connect(chat.get(), &QProcess::readyReadStandardOutput,
                         [&] { out += QString::fromUtf8(chat->readAllStandardOutput()); });
        ASSERT_TRUE(serving.waitFor("Chatting with alice\n", 15000))
            << serving.out().toStdString() << chat->readAllStandardError().toStdString();
        EXPECT_TRUE(serving.out().contains("Accepted chat request from alice: say hi\n"));

        // A typo mended with a backspace, lines as a terminal ends them.
        chat->write("hellp\bo bob\nhow are you?\r\n");
        serving.type("hi alice\nfine\n");
        ASSERT_TRUE(test::waitUntil([&] { return out.endsWith("fine\n"); })) << out.toStdString();
        ASSERT_TRUE(serving.waitFor("alice: how are you?\n", 15000)) << serving.out().toStdString();
        EXPECT_TRUE(serving.out().contains("alice: hello bob\nalice: how are you?\n"));

        // Her input ends; two quiet seconds later the chat does, and his side sees her go.
        chat->closeWriteChannel();
        ASSERT_TRUE(chat->waitForFinished(15000));
        EXPECT_EQ(chat->exitCode(), 0);
        out += QString::fromUtf8(chat->readAllStandardOutput());
        EXPECT_EQ(out, "Connecting...\nAsking for approval\nhi alice\nfine\n");
        EXPECT_TRUE(serving.waitFor("Chatting with alice:   Disconnected\n", 15000))
            << serving.out().toStdString();
    }

    test::Serving declining(m.bob);
    ASSERT_TRUE(declining.ready()) << declining.err().toStdString();
    EXPECT_TRUE(test::ended(cli(m.alice, {"chat", id}), 1,
                            "Connecting...\nAsking for approval\n"
                            "Your chat request has been declined.\n"));
    EXPECT_TRUE(declining.waitFor("Declined chat request from alice: \n", 15000))
        << declining.out().toStdString();
}
