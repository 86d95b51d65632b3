#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "messaging/infosocket.h"
#include "transfer/datamodule.h"
#include "transfer/mrftpserver.h"
#include "ui/chatforms.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/messengerforms.h"
#include "ui/searchform.h"
#include "ui/statusbox.h"
#include "ui/transferform.h"
#include "ui/userinformationform.h"
#include "ui/usersearchform.h"
#include "uitest.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace mr;
using test::waitUntil;

namespace {

// A look-up that answers at once with the given location (nothing: a failed reply).
UserLocator answering(std::optional<UserLocation> location) {
    return [location](QObject*, qint32, std::function<void(std::optional<UserLocation>)> done) {
        QMetaObject::invokeMethod(
            qApp, [done, location] { done(location); }, Qt::QueuedConnection);
        return true;
    };
}

}  // namespace

TEST(UserSearchWindow, SearchIsOfferedWhenTheChosenOptionHasText) {
    TfrmUserSearch form(nullptr);
    EXPECT_EQ(form.windowTitle(), "White Pages");
    EXPECT_TRUE(form.option(TfrmUserSearch::ByNickName)->isChecked());
    EXPECT_FALSE(form.btnSearch()->isEnabled());
    form.NickName()->setText("b");
    EXPECT_TRUE(form.btnSearch()->isEnabled());
    form.NickName()->clear();
    EXPECT_FALSE(form.btnSearch()->isEnabled());

    form.NickName()->setText("bob");
    form.option(TfrmUserSearch::ByEmail)->click();
    EXPECT_FALSE(form.NickName()->isEnabled());
    EXPECT_TRUE(form.Email()->isEnabled());
    EXPECT_FALSE(form.btnSearch()->isEnabled());

    form.option(TfrmUserSearch::ByName)->click();
    EXPECT_TRUE(form.FirstName()->isEnabled() && form.LastName()->isEnabled());
    EXPECT_FALSE(form.Email()->isEnabled());
    form.LastName()->setText("x");
    form.FirstName()->setText("y");
    form.LastName()->clear();
    // Either name is enough to search by.
    EXPECT_TRUE(form.btnSearch()->isEnabled());
    form.option(TfrmUserSearch::ByNickName)->click();
    EXPECT_TRUE(form.btnSearch()->isEnabled());
}

TEST(UserSearchWindow, OfflineSearchSaysSoAndAnswersBecomeRows) {
    TfrmUserSearch form(nullptr);
    QStringList messages;
    form.setMessageSink([&](const QString& text) { messages.append(text); });
    form.NickName()->setText("*");
    form.btnSearch()->click();
    EXPECT_EQ(messages, QStringList{"This action requires you to be Online."});
    EXPECT_TRUE(form.btnSearch()->isEnabled());
    EXPECT_TRUE(form.rdgSearch()->isEnabled());

    form.SearchReply(false, PackRecord("IAAAAB", {7, "bob", "Bob", "B", "b@x", 1}).bytes +
                                PackRecord("IAAAAB", {9, "ann", "", "", "", 0}).bytes);
    ASSERT_EQ(form.List()->topLevelItemCount(), 2);
    const QTreeWidgetItem* bob = form.List()->topLevelItem(0);
    EXPECT_EQ(QStringList({bob->text(0), bob->text(1), bob->text(2), bob->text(3)}),
              QStringList({"bob", "Bob", "B", "b@x"}));
    EXPECT_NE(bob->icon(0).cacheKey(), form.List()->topLevelItem(1)->icon(0).cacheKey());

    form.SearchMenuPopup();
    EXPECT_FALSE(form.actUserInfo()->isEnabled());
    form.List()->setCurrentItem(form.List()->topLevelItem(1));
    form.SearchMenuPopup();
    for (QAction* a :
         {form.actUserInfo(), form.actTree(), form.actSendMessage(), form.actClear()}) {
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    }
    QSignalSpy info(&form, &TfrmUserSearch::userInformationRequested);
    form.actUserInfo()->trigger();
    ASSERT_EQ(info.size(), 1);
    EXPECT_EQ(info[0], QVariantList({9, "ann"}));
    form.actClear()->trigger();
    EXPECT_EQ(form.List()->topLevelItemCount(), 0);
}

TEST(UserInformationWindow, RetrievesThenShowsTheProfileOrTheError) {
    TUserInformation second("carol");
    EXPECT_EQ(second.windowTitle(), "User Information");
    EXPECT_EQ(second.fieldText(UserInfoField::NickName), "carol");
    EXPECT_EQ(second.statusText(), "Retrieving User Information...");

    TUserInformation form(nullptr, 5, "bob");
    QStringList messages;
    form.setMessageSink([&](const QString& text) { messages.append(text); });
    EXPECT_FALSE(form.retrieve());
    EXPECT_EQ(messages, QStringList{"This action requires you to be Online."});

    form.InfoReply(true, {});
    EXPECT_EQ(form.statusText(), "There was an error while getting the user's information");
    EXPECT_TRUE(form.fieldText(UserInfoField::Files).isEmpty());
    form.InfoReply(false, PackRecord("AAAAABDBAAAI", {"Bob", "", "bob", "", "", 3, 0.0, 0, "",
                                                      "line 1\r\nline 2", "", 12})
                              .bytes);
    EXPECT_EQ(form.statusText(), "Done");
    EXPECT_EQ(form.fieldText(UserInfoField::NickName), "bob");
    EXPECT_EQ(form.fieldText(UserInfoField::Files), "12");
    EXPECT_EQ(form.fieldText(UserInfoField::Connection), "33.600");
    EXPECT_EQ(form.fieldText(UserInfoField::BirthDate), "Unknown");
    EXPECT_EQ(form.fieldText(UserInfoField::MoreInfo), "line 1\nline 2");
}

TEST(MessengerWindows, CaptionsQuotesAndReplies) {
    QPointer<TMessengerReceiver> received =
        ShowReceivedMessage(4, "bob", "127.0.0.1", 4000, "first\r\nsecond\r\n");
    EXPECT_TRUE(received->windowTitle().startsWith("Received Message From:bob Time:"))
        << received->windowTitle().toStdString();
    EXPECT_EQ(received->Body()->toPlainText(), "first\nsecond");

    // Replying closes the received window.
    QPointer<TMessengerSender> quoting = received->ReplyWithText();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(received.isNull());
    EXPECT_EQ(quoting->windowTitle(), "Quote And Send Message To:bob");
    EXPECT_EQ(quoting->Body()->toPlainText(), "bob wrote:\n>first\n>second");
    EXPECT_EQ(quoting->userId(), 4);
    delete quoting.data();

    received = ShowReceivedMessage(4, "bob", "127.0.0.1", 4000, "hi");
    QPointer<TMessengerSender> plain = received->Reply();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(received.isNull());
    EXPECT_EQ(plain->windowTitle(), "Send Message To:bob");
    EXPECT_TRUE(plain->Body()->toPlainText().isEmpty());
    delete plain.data();
}

TEST(MessengerWindows, FailedStateOfflineWarningAndDelivery) {
    // The service cannot be asked: the window stays, failed, with only Close to press.
    QPointer<TMessengerSender> failed = new TMessengerSender(4, "bob", {});
    failed->Body()->setPlainText("hello");
    failed->ToolButton1()->click();
    EXPECT_FALSE(failed->Body()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return failed->windowTitle() == "Error has occured"; }));
    EXPECT_TRUE(failed->btnClose()->isEnabled());
    EXPECT_FALSE(failed->ToolButton1()->isEnabled());
    failed->btnClose()->click();
    EXPECT_TRUE(waitUntil([&] { return failed.isNull(); }));

    // No address, or nobody listening at it: the warning, then the window closes.
    for (const UserLocation& where :
         {UserLocation{}, UserLocation{"127.0.0.1", test::deadPort(), 0}}) {
        QStringList warnings;
        QPointer<TMessengerSender> offline = new TMessengerSender(4, "bob", {answering(where), {}});
        offline->setMessageSink([&](const QString& text) { warnings.append(text); });
        offline->sendMessage();
        EXPECT_TRUE(waitUntil([&] { return offline.isNull(); }));
        EXPECT_EQ(warnings, QStringList{"Unable to send message, user might be offline."});
    }

    // Ctrl+Enter sends; every character the field encoding escapes arrives unchanged.
    InfoSocket info;
    ASSERT_TRUE(info.open(QHostAddress::LocalHost));
    QSignalSpy received(&info, &InfoSocket::messageReceived);
    UserInfo().setId(31);
    QPointer<TMessengerSender> sender = new TMessengerSender(
        4, "bob", {answering(UserLocation{"127.0.0.1", info.port(), 0}), [] { return 4321; }});
    sender->Body()->setPlainText(" *\\ two  blanks\n\n*");
    QTest::keyClick(sender->Body(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }));
    QStringList fields;
    for (const QVariant& field : received[0]) {
        fields.append(field.toString());
    }
    EXPECT_EQ(fields, QStringList({"31", test::kNickname, "127.0.0.1", "4321",
                                   " *\\ two  blanks\r\n\r\n*\r\n"}));
    EXPECT_TRUE(waitUntil([&] { return sender.isNull(); }));

    // Longer than a receiver takes: said, nothing sent, and the window stays to shorten it.
    QStringList said;
    QPointer<TMessengerSender> longer =
        new TMessengerSender(4, "bob", {answering(UserLocation{"127.0.0.1", info.port(), 0}), {}});
    longer->setMessageSink([&](const QString& text) { said.append(text); });
    longer->Body()->setPlainText(QString(MessageSender::kMaxMessageBytes, 'x'));
    longer->sendMessage();
    ASSERT_TRUE(waitUntil([&] { return !said.isEmpty(); }));
    EXPECT_TRUE(said.first().startsWith("The message is too long"));
    longer->Body()->setPlainText("short");
    longer->sendMessage();
    ASSERT_TRUE(waitUntil([&] { return received.size() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return longer.isNull(); }));
}

TEST(MessengerWindows, TheDesktopOpensAWindowForEveryMessageAndChatAndTheDirectoryCommands) {
    QTemporaryDir profile;
    const QString saved = activeProfile().directory();
    setActiveProfile(profile.path());
    UserInfo().setNickname(test::kNickname);
    {
        TMRDataModule data(profile.path());
        ASSERT_EQ(data.create(), TMRDataModule::StartResult::Started);
        TfrmMain frame;
        DesktopSession desktop(frame, &data);
        frame.commands().actUserSearch->trigger();
        frame.commands().actUserSearch->trigger();
        EXPECT_EQ(frame.findChildren<TfrmUserSearch*>().size(), 2);
        Tfrm_transfer* transfers = frame.server().ShowTransfers();
        ASSERT_NE(transfers, nullptr);
        EXPECT_TRUE(transfers->actPMessage()->isVisible() &&
                    transfers->actUserInformation()->isVisible());
        EXPECT_TRUE(transfers->actPTP()->isVisible() && transfers->actAddUser()->isVisible());
        // A row that knows its user's id asks for his profile (offline: says so and stops).
        data.fileServer()->waitingList().Add("bob", 9, "bob", 0, 10, "/a", "127.0.0.1", 1);
        transfers->lvwAutomatic()->selectRow(0);
        const auto closeTheNextBox = [] {
            QTimer::singleShot(0, [] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    box->close();
                }
            });
        };
        closeTheNextBox();
        transfers->actUserInformation()->trigger();
        const auto* profile = frame.findChild<TUserInformation*>();
        ASSERT_NE(profile, nullptr);
        EXPECT_EQ(profile->statusText(), QString::fromLatin1(kUserInfoErrorText));
        // Both search windows hand a member's profile and a message to the controller.
        TfrmSearch* files = frame.server().ShowFileSearch();
        ASSERT_NE(files, nullptr);
        closeTheNextBox();
        emit files->userInformationRequested(9, "bob");
        closeTheNextBox();
        emit frame.findChild<TfrmUserSearch*>()->userInformationRequested(9, "bob");
        EXPECT_EQ(frame.findChildren<TUserInformation*>().size(), 3);
        emit files->messageRequested(9, "bob");
        emit frame.findChild<TfrmUserSearch*>()->messageRequested(9, "bob");
        QList<TMessengerSender*> composers;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* c = qobject_cast<TMessengerSender*>(w)) {
                composers.append(c);
            }
        }
        EXPECT_EQ(composers.size(), 2);
        qDeleteAll(composers);
        // Every "Add Computer" reaches the contacts; offline each change ends as an error.
        frame.statusBox()->setAutoTick(false);
        emit files->addContactRequested(9, "bob");
        emit frame.findChild<TfrmUserSearch*>()->addContactRequested(9, "ann");
        transfers->lvwAutomatic()->selectRow(0);
        transfers->actAddUser()->trigger();
        const auto ended = [&frame] {
            QStringList texts;
            for (int i = 0; i < frame.statusBox()->taskCount(); ++i) {
                if (frame.statusBox()->taskImage(i) >= TfrmStatusBox::kFirstFailureImage &&
                    frame.statusBox()->taskText(i).startsWith("Error while")) {
                    texts.append(frame.statusBox()->taskText(i));
                }
            }
            return texts;
        };
        ASSERT_TRUE(waitUntil([&] { return ended().size() == 3; }))
            << ended().join(',').toStdString();
        EXPECT_EQ(ended(),
                  QStringList({"Error while adding/removing bob", "Error while adding/removing ann",
                               "Error while adding/removing bob"}));

        const UserLocation here{"127.0.0.1", data.infoPort(), 0};
        for (const char* text : {"one", "two"}) {
            MessageSender sender({answering(here), {}});
            QSignalSpy done(&sender, &MessageSender::finished);
            sender.send(8, text);
            ASSERT_TRUE(waitUntil([&] { return done.size() == 1; }));
        }
        QList<TMessengerReceiver*> windows;
        ASSERT_TRUE(waitUntil([&] {
            windows.clear();
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* r = qobject_cast<TMessengerReceiver*>(w)) {
                    windows.append(r);
                }
            }
            return windows.size() == 2;
        }));
        qDeleteAll(windows);

        // Request Chat in both searches and Private Chat in the transfer window ask for a chat.
        emit files->chatRequested(9, "bob");
        emit frame.findChild<TfrmUserSearch*>()->chatRequested(9, "bob");
        transfers->actPTP()->trigger();
        const QList<TfrmPTPRequest*> requests = frame.findChildren<TfrmPTPRequest*>();
        ASSERT_EQ(requests.size(), 3);
        EXPECT_EQ(requests[0]->windowTitle(), "Requesting Chat From:bob");
        qDeleteAll(requests);

        // A request to this desktop's own info socket: the invitation opens in the frame, and
        // accepting it joins two chat windows that type to each other.
        auto* request = new TfrmPTPRequest(9, "bob", answering(here));
        ShowChatWindow(request);
        QSignalSpy opened(request, &TfrmPTPRequest::chatOpened);
        request->Reason()->setText("let's talk");
        QTest::keyClick(request->Reason(), Qt::Key_Return);
        TfrmChatInvite* invite = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (invite = frame.findChild<TfrmChatInvite*>()); }));
        EXPECT_EQ(request->lblState()->text(), "Asking for approval");
        EXPECT_EQ(invite->lblFrom()->text(), test::kNickname);
        EXPECT_EQ(invite->lblChatType()->text(), "Private");
        EXPECT_EQ(invite->lblReason()->text(), "let's talk");
        QPointer<TPTP> invitee = invite->btnAcceptClick();
        ASSERT_FALSE(invitee.isNull());
        ASSERT_TRUE(waitUntil([&] { return opened.size() == 1; }));
        QPointer<TPTP> requester = opened[0][0].value<TPTP*>();
        ASSERT_TRUE(waitUntil(
            [&] { return invitee->chat()->isConnected() && requester->chat()->isConnected(); }));
        EXPECT_EQ(frame.findChildren<TPTP*>().size(), 2);
        EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Chatting with bob");
        QTest::keyClicks(requester->Local(), "hi");
        QTest::keyClick(requester->Local(), Qt::Key_Backspace);
        requester->chooseColor(9);
        QTest::keyClicks(requester->Local(), "o");
        ASSERT_TRUE(waitUntil([&] { return invitee->Remote()->toPlainText() == "ho"; }));
        EXPECT_EQ(requester->Local()->toPlainText(), "ho");
        const QTextBlock line = invitee->Remote()->document()->firstBlock();
        EXPECT_EQ(line.begin().fragment().charFormat().foreground().color(), QColor(Qt::white));
        EXPECT_EQ((--line.end()).fragment().charFormat().foreground().color(), QColor(Qt::red));

        // The peer's window closes: this one says so and takes no more typing.
        qobject_cast<QMdiSubWindow*>(requester->parentWidget())->close();
        ASSERT_TRUE(waitUntil([&] { return invitee->Status()->text() == "   Disconnected"; }));
        EXPECT_TRUE(invitee->Local()->isReadOnly());
        EXPECT_FALSE(invitee->btnColor()->isEnabled());
    }
    setActiveProfile(saved);
}
