#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace mr;
using test::cli;

// Alice finds Bob by nickname, reads his profile and messages him while his client runs.
TEST(People, FindReadAndMessageAnotherMember) {
    test::TwoMembers m;
    ASSERT_TRUE(m.up());
    ASSERT_EQ(m.aliceId, 1);
    const QString id = QString::number(m.bobId);
    // 5 March 1971, as a day count; the profile goes up with the next sign-on.
    for (const auto& [name, value] :
         std::initializer_list<std::pair<QString, QString>>{{"FirstName", "Bob"},
                                                            {"LastName", "Builder"},
                                                            {"Email", "bob@example.org"},
                                                            {"BDate", "25997"},
                                                            {"Sex", "M"},
                                                            {"Connection", "8"},
                                                            {"Country", "Ireland"},
                                                            {"Message", "Hello\nthere"},
                                                            {"ShowInfo", "1"},
                                                            {"Refresh", "1"}}) {
        ASSERT_EQ(cli(m.bob, {"set", "UserInfo/" + name, value}).exitCode, 0);
    }
    ASSERT_EQ(cli(m.bob, {"signon"}).exitCode, 0);

    EXPECT_TRUE(test::ended(cli(m.alice, {"info", id}), 0,
                            "Nick Name: bob\nEmail: bob@example.org\nFiles: 0\nConnection: DSL\n"
                            "Greeting Message: Hello\\nthere\nFirst Name: Bob\n"
                            "Last Name: Builder\nBirth Date: 5/Mar/1971\nLanguages: \n"
                            "Gender: Male\nCountry: Ireland\nHome Page: \n"));

    test::Serving serving(m.bob);
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    const QString bobRow = id + "\tbob\tBob\tBuilder\tbob@example.org\tOnline\n";
    EXPECT_TRUE(test::ended(cli(m.alice, {"users", "--nick", "b*"}), 0, bobRow));
    EXPECT_TRUE(test::ended(cli(m.alice, {"users", "--name", "", "build*"}), 0, bobRow));
    EXPECT_TRUE(test::ended(cli(m.alice, {"users", "--email", "nobody*"}), 0, ""));

    // Blanks, backslashes, asterisks and line breaks travel escaped and arrive unchanged.
    EXPECT_TRUE(test::ended(cli(m.alice, {"msg", id, " *lead\\ \r*\n\n\\"}), 0, ""));
    EXPECT_TRUE(
        serving.waitFor("Message from alice (1):  *lead\\\\ \\r*\\r\\n\\r\\n\\\\\\r\\n\n", 15000))
        << serving.out().toStdString();
    EXPECT_EQ(serving.stop(), 0);

    EXPECT_TRUE(test::ended(cli(m.alice, {"msg", id, "anyone?"}), 1,
                            "Unable to send message, user might be offline.\n"));
    EXPECT_EQ(cli(m.alice, {"users", "--nick"}).exitCode, 2);
}
