#include "process.h"
#include "serverprocess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace mr;
using test::cli;

// Alice finds Bob by nickname, reads his profile and messages him while his client runs.
TEST(People, FindReadAndMessageAnotherMember) {
    QTemporaryDir data, alice, bob;
    test::Server server({"--data", data.path()});
    ASSERT_TRUE(server.ready()) << server.readyLine().toStdString();
    ASSERT_EQ(test::registerUser(alice.path(), server, "alice"), 1);
    const int bobId = test::registerUser(bob.path(), server, "bob");
    ASSERT_GT(bobId, 0);
    const QString id = QString::number(bobId);
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
        ASSERT_EQ(cli(bob.path(), {"set", "UserInfo/" + name, value}).exitCode, 0);
    }
    ASSERT_EQ(cli(bob.path(), {"signon"}).exitCode, 0);

    EXPECT_TRUE(test::ended(cli(alice.path(), {"info", id}), 0,
                            "Nick Name: bob\nEmail: bob@example.org\nFiles: 0\nConnection: DSL\n"
                            "Greeting Message: Hello\\nthere\nFirst Name: Bob\n"
                            "Last Name: Builder\nBirth Date: 5/Mar/1971\nLanguages: \n"
                            "Gender: Male\nCountry: Ireland\nHome Page: \n"));

    test::Serving serving(bob.path());
    ASSERT_TRUE(serving.ready()) << serving.err().toStdString();
    const QString bobRow = id + "\tbob\tBob\tBuilder\tbob@example.org\tOnline\n";
    EXPECT_TRUE(test::ended(cli(alice.path(), {"users", "--nick", "b*"}), 0, bobRow));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"users", "--name", "", "build*"}), 0, bobRow));
    EXPECT_TRUE(test::ended(cli(alice.path(), {"users", "--email", "nobody*"}), 0, ""));

    // Blanks, backslashes, asterisks and line breaks travel escaped and arrive unchanged.
    EXPECT_TRUE(test::ended(cli(alice.path(), {"msg", id, " *lead\\ \r*\n\n\\"}), 0, ""));
    EXPECT_TRUE(
        serving.waitFor("Message from alice (1):  *lead\\\\ \\r*\\r\\n\\r\\n\\\\\\r\\n\n", 15000))
        << serving.out().toStdString();
    EXPECT_EQ(serving.stop(), 0);

    EXPECT_TRUE(test::ended(cli(alice.path(), {"msg", id, "anyone?"}), 1,
                            "Unable to send message, user might be offline.\n"));
    EXPECT_EQ(cli(alice.path(), {"users", "--nick"}).exitCode, 2);
}
