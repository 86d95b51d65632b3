#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace mr;
using test::cli;

// Alice and Bob add each other as contacts and, while both clients run, see each other online.
TEST(Contacts, AddEachOtherSeeEachOtherOnlineAndRemove) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());

    // The service would answer with her own id: the refusal is the client's.
    EXPECT_TRUE(test::ended(cli(m.alice, {"contacts", "add", " ALICE "}), 1,
                            "It is not possible to add yourself\n"));
    EXPECT_TRUE(test::ended(cli(m.alice, {"contacts", "add", "nobody"}), 1,
                            "nobody is not Moonrake member.\n"));
    EXPECT_TRUE(
        test::ended(cli(m.alice, {"contacts", "add", "bob"}), 0, "bob Added to contact list\n"));
    EXPECT_TRUE(
        test::ended(cli(m.alice, {"contacts", "add", "Bob"}), 1, "Bob already in contact list\n"));
    EXPECT_TRUE(
        test::ended(cli(m.bob, {"contacts", "add", "alice"}), 0, "alice Added to contact list\n"));

    {
        test::Serving aliceOnline(m.alice);
        test::Serving bobOnline(m.bob);
        ASSERT_TRUE(aliceOnline.ready()) << aliceOnline.err().toStdString();
        ASSERT_TRUE(bobOnline.ready()) << bobOnline.err().toStdString();
        EXPECT_TRUE(test::ended(
            cli(m.alice, {"contacts"}), 0,
            QString::number(m.bobId) + "\tbob\tOnline\nOnline Users: 2\nOnline Files: 0\n"));
        EXPECT_TRUE(test::ended(
            cli(m.bob, {"contacts"}), 0,
            QString::number(m.aliceId) + "\talice\tOnline\nOnline Users: 2\nOnline Files: 0\n"));
        EXPECT_EQ(bobOnline.stop(), 0);
        EXPECT_TRUE(test::ended(
            cli(m.alice, {"contacts"}), 0,
            QString::number(m.bobId) + "\tbob\tOffline\nOnline Users: 1\nOnline Files: 0\n"));
        EXPECT_EQ(aliceOnline.stop(), 0);
    }

    EXPECT_TRUE(test::ended(cli(m.alice, {"contacts", "remove", "BOB"}), 0,
                            "bob removed from contact list\n"));
    EXPECT_TRUE(test::ended(cli(m.alice, {"contacts"}), 0, "Online Users: 1\nOnline Files: 0\n"));
    EXPECT_EQ(cli(m.alice, {"contacts", "remove", "bob"}).exitCode, 1);
    EXPECT_EQ(cli(m.alice, {"contacts", "drop", "bob"}).exitCode, 2);
}
