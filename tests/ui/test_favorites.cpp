#include "core/record.h"
#include "core/userinfo.h"
#include "messaging/contacts.h"
#include "transfer/datamodule.h"
#include "ui/controller.h"
#include "ui/favoritesform.h"
#include "ui/mainwindow.h"
#include "ui/statusbox.h"
#include "uitest.h"

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace mr;
using test::waitUntil;

namespace {

QStringList enabledActions(TfrmFavorites& form) {
    form.popFavouritesPopup();
    QStringList names;
    for (QAction* a : form.popFavourites()->actions()) {
        if (a->isEnabled() && !a->isSeparator()) {
            names.append(a->objectName());
        }
    }
    return names;
}

}  // namespace

// The contacts as the frame docks them: loaded from the table, marked by the poll, with the
// menu's rules, the refusal to add oneself and a change's progress window and status task.
TEST(ContactsWindow, LoadedMarkedAndChangedFromTheFrame) {
    test::ScopedProfile profile;
    UserInfo().setNickname(test::kNickname);
    TMRDataModule data(profile.path());
    ASSERT_EQ(data.create(false), TMRDataModule::StartResult::Started);
    ASSERT_TRUE(StoreContact(1, "ann"));
    ASSERT_TRUE(StoreContact(2, "bob"));

    TfrmMain frame;
    frame.statusBox()->setAutoTick(false);
    TfrmFavorites& form = *frame.server().ShowFavorites(true);
    QStringList errors;
    form.setMessageSink([&](const QString& text) { errors.append(text); });
    QTreeWidget* list = form.lvwContacts();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(form.contacts().timer().interval(), 1500);

    form.contacts().pollReply(false, 'C' + PackRecord("IB", {2, 1}).bytes);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "bob");
    EXPECT_NE(list->topLevelItem(0)->icon(0).cacheKey(), list->topLevelItem(1)->icon(0).cacheKey());

    EXPECT_EQ(enabledActions(form), QStringList{"actAddComputer"});
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(enabledActions(form),
              QStringList({"actAddComputer", "actDeleteComputer", "actUsersTree", "actUserInfo"}));
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_EQ(enabledActions(form).size(), 6);
    QSignalSpy chat(&form, &TfrmFavorites::chatRequested);
    form.actRequestChat()->trigger();
    EXPECT_EQ(chat.value(0), QVariantList({2, "bob"}));
    // Browsing goes through the controller, which asks to connect first.
    form.actUsersTree()->trigger();
    EXPECT_EQ(frame.statusBox()->taskText(0), "You must connect first");

    // "Add Computer" asks for the nickname; one's own, in any case, is refused at once.
    QString prompt;
    QTimer::singleShot(0, [&prompt] {
        if (auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            prompt = box->labelText();
            box->setTextValue(" TESTER ");
            box->accept();
        }
    });
    form.actAddComputer()->trigger();
    EXPECT_EQ(prompt, "Please Input Desired Nick");
    EXPECT_EQ(errors, QStringList{"It is not possible to add yourself"});
    EXPECT_EQ(form.findChild<TfrmContactAction*>(), nullptr);

    // Offline the removal cannot be placed: its window waits, then closes on the failure.
    form.actDeleteComputer()->trigger();
    QPointer<TfrmContactAction> waiting = form.findChild<TfrmContactAction*>();
    ASSERT_FALSE(waiting.isNull());
    EXPECT_EQ(waiting->windowTitle(), "Removing bob From Contacts");
    EXPECT_EQ(waiting->lblStatus()->text(), "Waiting for authorization");
    EXPECT_EQ(frame.statusBox()->taskText(1), "Deleting bob");
    ASSERT_TRUE(waitUntil([&] { return waiting.isNull(); }));
    EXPECT_EQ(frame.statusBox()->taskText(1), "Error while adding/removing bob");
    EXPECT_GE(frame.statusBox()->taskImage(1), TfrmStatusBox::kFirstFailureImage);
    EXPECT_EQ(ReadContacts().size(), 2);
}
