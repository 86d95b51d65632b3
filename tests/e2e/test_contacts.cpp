#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace mr;
using test::cli;

// Alice and Bob add each other as contacts and, while both clients run, see each other online.
TEST(Contacts, AddEachOtherSeeEachOtherOnlineAndRemove) {
    QTemporaryDir data, alice, bob;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    const int aliceId = test::registerUser(alice.path(), server, "alice");
    const int bobId = test::registerUser(bob.path(), server, "bob");
    ASSERT_GT(aliceId, 0);
    ASSERT_GT(bobId, 0);

    // The service would answer with her own id: the refusal is the client's.
    EXPECT_TRUE(test::ended(cli(alice.path(), {"contacts", "add", " ALICE "}), 1,
                            "It is not possible to add yourself\n"));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"contacts", "add", "nobody"}), 1,
                            "nobody is not Moonrake member.\n"));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"contacts", "add", "bob"}), 0,
                            "bob Added to contact list\n"));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"contacts", "add", "Bob"}), 1,
                            "Bob already in contact list\n"));
    EXPECT_TRUE(test::ended(cli(bob.path(), {"contacts", "add", "alice"}), 0,
                            "alice Added to contact list\n"));

    {
        test::Serving aliceOnline(alice.path());
        test::Serving bobOnline(bob.path());
        ASSERT_TRUE(aliceOnline.ready()) << aliceOnline.err().toStdString();
        ASSERT_TRUE(bobOnline.ready()) << bobOnline.err().toStdString();
        EXPECT_TRUE(test::ended(
            cli(alice.path(), {"contacts"}), 0,
            QString::number(bobId) + "\tbob\tOnline\nOnline Users: 2\nOnline Files: 0\n"));
        EXPECT_TRUE(test::ended(
            cli(bob.path(), {"contacts"}), 0,
            QString::number(aliceId) + "\talice\tOnline\nOnline Users: 2\nOnline Files: 0\n"));
        EXPECT_EQ(bobOnline.stop(), 0);
        EXPECT_TRUE(test::ended(
            cli(alice.path(), {"contacts"}), 0,
            QString::number(bobId) + "\tbob\tOffline\nOnline Users: 1\nOnline Files: 0\n"));
        EXPECT_EQ(aliceOnline.stop(), 0);
    }

    EXPECT_TRUE(test::ended(cli(alice.path(), {"contacts", "remove", "BOB"}), 0,
                            "bob removed from contact list\n"));
    EXPECT_TRUE(
        test::ended(cli(alice.path(), {"contacts"}), 0, "Online Users: 1\nOnline Files: 0\n"));
    EXPECT_EQ(cli(alice.path(), {"contacts", "remove", "bob"}).exitCode, 1);
    EXPECT_EQ(cli(alice.path(), {"contacts", "drop", "bob"}).exitCode, 2);
}
