#include "messaging/chatline.h"

#include <gtest/gtest.h>

namespace mr {
namespace {

using Tokens = QList<QByteArray>;

TEST(ChatLine, CommandsQuoteWhatWouldOtherwiseComeApart) {
    EXPECT_EQ(BuildChatCommand(0, {"JOIN", "@Music", "rock"}), "JOIN @Music rock");
    EXPECT_EQ(BuildChatCommand(0, {"msg", "@Music", "rock", "it's fine"}),
              "msg @Music rock 'it''s fine'");
    EXPECT_EQ(BuildChatCommand(322, {"rock", "5", "Rock and roll"}), "322 rock 5 'Rock and roll'");
    EXPECT_EQ(BuildChatCommand(0, {"login", "7", ""}), "login 7 ''");
    EXPECT_EQ(BuildChatCommand(353, {"@G", "c", "o'neil", "ann"}), "353 @G c 'o''neil' ann");
    EXPECT_EQ(BuildChatCommand(0, {"msg", "a\tb"}), "msg 'a\tb'");
    EXPECT_EQ(BuildChatCommand(0, {"msg", "one\r\nJOIN @G x"}), "msg 'one  JOIN @G x'");
}

TEST(ChatLine, LinesSplitOnBlanksAndTabsOutsideQuotes) {
    EXPECT_EQ(SplitChatLine("322 rock 5 'Rock talk'"), (Tokens{"322", "rock", "5", "Rock talk"}));
    EXPECT_EQ(SplitChatLine(" \t100\t@Music  rock ann 'it''s fine' "),
              (Tokens{"100", "@Music", "rock", "ann", "it's fine"}));
    // A quote inside an unquoted token keeps the blanks after it in that token, as it stands.
    EXPECT_EQ(SplitChatLine("100 a it's so"), (Tokens{"100", "a", "it's so"}));
    // Tokens that are only quotes, and one left open.
    EXPECT_EQ(SplitChatLine("'' ''''"), (Tokens{"", "'"}));
    EXPECT_EQ(SplitChatLine("' "), (Tokens{" "}));
    EXPECT_EQ(SplitChatLine("'open end"), (Tokens{"open end"}));
    EXPECT_TRUE(SplitChatLine(" \t ").isEmpty());

    for (const Tokens& words : {Tokens{"msg", "@G", "c", "it's", "two words", "", "'", "\t"},
                                Tokens{"USERID", "o'neil"}}) {
        EXPECT_EQ(SplitChatLine(BuildChatCommand(0, words)), words);
    }
}

}  // namespace
}  // namespace mr
