#include "dbtestutil.h"
#include "uitest.h"

#include "db/database.h"
#include "transfer/peercatalog.h"
#include "ui/askpasswordform.h"
#include "ui/bannedusersform.h"
#include "ui/creditsform.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace mr;

namespace {

// A password check whose answer the test gives when it chooses.
struct PendingCheck {
    TdlgAskPassword::Checker checker() {
        return [this](const QString& password, TdlgAskPassword::VerdictHandler onVerdict,
                      TdlgAskPassword::ErrorHandler onError) {
            ++calls;
            typed = password;
            verdict = std::move(onVerdict);
            error = std::move(onError);
        };
    }
    int calls = 0;
    QString typed;
    TdlgAskPassword::VerdictHandler verdict;
    TdlgAskPassword::ErrorHandler error;
};

bool idle(const TdlgAskPassword& dialog) {
    return dialog.txtPassword()->isEnabled() && dialog.btnValidate()->isEnabled();
}

TEST(AskPassword, ShowsEachVerdictAndClosesTwoSecondsAfterAccessIsGranted) {
    PendingCheck check;
    TdlgAskPassword dialog(QStringLiteral("ann"), QStringLiteral("song.mp3"), check.checker());
    EXPECT_EQ(dialog.windowTitle(), "Authorization Required");
    EXPECT_EQ(dialog.lblStatus()->text(), "Idle");

    const std::pair<int, const char*> cases[] = {
        {4, "You are banned."},
        {5, "Remote file wasn't found."},
        {6, "Invalid password, please reenter."},
        {1, "Logging..."},  // other codes leave the text alone
    };
    for (const auto& [code, text] : cases) {
        dialog.txtPassword()->setText(QStringLiteral("pw"));
        dialog.btnValidate()->click();
        EXPECT_EQ(dialog.lblStatus()->text(), "Logging...");
        EXPECT_FALSE(idle(dialog));
        check.verdict(code);
        EXPECT_EQ(dialog.lblStatus()->text(), text) << code;
        EXPECT_TRUE(idle(dialog));
        EXPECT_FALSE(dialog.closeTimer()->isActive());
    }
    EXPECT_EQ(check.calls, 4);
    EXPECT_EQ(check.typed, "pw");

    dialog.btnValidate()->click();
    check.error(QStringLiteral("Connection refused"));
    EXPECT_EQ(dialog.lblStatus()->text(), "Connection refused");
    EXPECT_TRUE(idle(dialog));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    // Access granted closes the dialog after two seconds with the password that was checked.
    dialog.show();
    dialog.txtPassword()->setText(QStringLiteral("Sesame"));
    dialog.btnValidate()->click();
    check.verdict(0);
    EXPECT_EQ(dialog.lblStatus()->text(), "Access granted.");
    EXPECT_TRUE(idle(dialog));
    ASSERT_TRUE(dialog.closeTimer()->isActive());
    EXPECT_EQ(dialog.closeTimer()->interval(), 2000);
    // Typing during the delay does not change what the owner accepted.
    dialog.txtPassword()->setText(QStringLiteral("other"));
    EXPECT_TRUE(dialog.isVisible());

    dialog.closeTimer()->start(10);
    EXPECT_TRUE(test::waitUntil([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.password(), "Sesame");
}

TEST(AskPassword, LateAnswerAfterTheDialogIsGoneIsIgnored) {
    PendingCheck check;
    auto dialog = std::make_unique<TdlgAskPassword>(QStringLiteral("ann"), QStringLiteral("f"),
                                                    check.checker());
    dialog->btnValidate()->click();
    dialog.reset();
    check.verdict(0);
    check.error(QStringLiteral("late"));
    // Reaching here without touching the freed dialog is the point (AddressSanitizer watches).
    EXPECT_EQ(check.calls, 1);
}

class BannedUsers : public test::DbTest {};

TEST_F(BannedUsers, UnBanLiftsTheSelectedBanAndDropsTheRow) {
    for (const char* name : {"mallory", "eve", "trent"})
        SetUserStatus(QString::fromLatin1(name), kUserStatusBanned);
    SetUserStatus(QStringLiteral("friend"), kUserStatusNormal);
    CountTransfer(QStringLiteral("Friend"), 700, CreditDirection::GaveUs);
    CountTransfer(QStringLiteral("friend"), 300, CreditDirection::TookFromUs);

    // Everyone's counters, the banned users among them.
    TfrmCredits credits;
    const QTableWidget* table = credits.lvwCredits();
    ASSERT_EQ(table->rowCount(), 4);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << table->item(row, column)->text();
        rows << cells.join(' ');
    }
    EXPECT_TRUE(rows.contains("friend Normal 1 1 700 300")) << rows.join('|').toStdString();
    EXPECT_TRUE(rows.contains("eve Banned 0 0 0 0")) << rows.join('|').toStdString();

    TfrmBannedUsers form;
    QStringList messages;
    form.setMessageSink([&](const QString& m) { messages << m; });
    EXPECT_EQ(form.windowTitle(), "Banned Users");
    ASSERT_EQ(form.lstUsers()->count(), 3);
    EXPECT_EQ(form.lstUsers()->item(0)->text(), "mallory");
    EXPECT_FALSE(form.btnUnBan()->isEnabled());
    EXPECT_FALSE(form.actUnBan()->isEnabled());

    form.lstUsers()->setCurrentRow(0);
    EXPECT_TRUE(form.actUnBan()->isEnabled());
    form.btnUnBan()->click();
    EXPECT_EQ(BannedUserNames(), QStringList({"eve", "trent"}));
    EXPECT_EQ(rawQuery("credits.dat", "select Status from credits where Username = 'mallory'"),
              "1");
    form.lstUsers()->setCurrentRow(0);
    form.actUnBan()->trigger();
    ASSERT_EQ(form.lstUsers()->count(), 1);
    EXPECT_EQ(form.lstUsers()->item(0)->text(), "trent");

    // A failing database is reported and the name stays listed.
    form.lstUsers()->setCurrentRow(0);
    db::Database::disconnect(QString::fromLatin1(db::kDatabaseName));
    form.btnUnBan()->click();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(form.lstUsers()->count(), 1);
}

}  // namespace
