#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "directory/searchresults.h"
#include "transfer/passwordcache.h"
#include "transfer/queue.h"
#include "ui/searchform.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace mr {
namespace {

// Pixels of the list's top-left corner that differ from its background: the drawn message.
int inkUnderHeader(TfrmSearch& form) {
    const QImage image = form.List()->viewport()->grab().toImage();
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    int ink = 0;
    for (int y = 18; y < 50 && y < image.height(); ++y) {
        for (int x = 5; x < 200 && x < image.width(); ++x) {
            ink += image.pixel(x, y) != background;
        }
    }
    return ink;
}

QByteArray found(qint32 owner, qint32 size, const char* name, const char* nick, bool online,
                 bool passwordFlag = false) {
    return PackRecord("IIDWBAAAAAWWBB", {owner, size, 0.0, 0, passwordFlag ? 1 : 0, "Music", name,
                                         "", "", nick, 0, 0, 0, online ? 1 : 0})
        .bytes;
}

class Prompt : public PasswordPrompt {
public:
    std::optional<QString> answer;
    std::optional<QString> ask(qint32, const QString&, const QString&, const QString&) override {
        return answer;
    }
};

TEST(SearchWindow, ControlsStartAsTheUserExpectsAndAFailedSearchIsDrawnInTheList) {
    TfrmSearch form(nullptr);
    form.resize(700, 400);
    form.show();
    EXPECT_EQ(form.MediaType()->currentText(), "All");
    EXPECT_EQ(form.MinLine()->currentText(), "Never Mind ");
    EXPECT_FALSE(form.OnOff()->isChecked());
    EXPECT_TRUE(form.PingCheck()->isChecked());
    EXPECT_EQ(form.Min()->maxLength(), 7);
    EXPECT_FALSE(form.AdvancedPanel()->isVisible());
    form.Advanced()->click();
    EXPECT_TRUE(form.AdvancedPanel()->isVisible());
    EXPECT_EQ(inkUnderHeader(form), 0);

    // A size that is not a number is reported and nothing is searched.
    QStringList reported;
    form.setMessageSink([&](const QString& text) { reported << text; });
    form.Min()->setText("ten");
    QTest::keyClick(form.Name(), Qt::Key_Return);
    EXPECT_EQ(reported, QStringList({"Min KB: 'ten' is not a valid integer value"}));
    EXPECT_EQ(form.message(), "");

    // Without the service the search cannot be placed and ends at once, in error.
    form.Min()->clear();
    form.SearchButton()->click();
    EXPECT_EQ(form.message(), "Error while searching");
    EXPECT_EQ(form.statusText(), "Error while searching");
    EXPECT_TRUE(form.SearchButton()->isEnabled() && form.Name()->isEnabled());
    EXPECT_TRUE(form.SearchAnim()->isHidden());
    EXPECT_GT(inkUnderHeader(form), 0);

    form.search().readReply({}, false);
    EXPECT_EQ(form.message(), "No items were found");
    EXPECT_GT(inkUnderHeader(form), 0);
}

TEST(SearchWindow, MenuFollowsTheSelectedRowAndDownloadsRefuseWhatTheyCannotFetch) {
    struct Restore {
        qint32 id = UserInfo().id();
        ~Restore() {
            UserInfo().setId(id);
            PasswordCache().setPrompt(nullptr);
            PasswordCache().clear();
        }
    } restore;
    UserInfo().setId(42);
    Prompt prompt;
    PasswordCache().setPrompt(&prompt);
    TMRWantedList wanted(1);
    TfrmSearch form(nullptr);
    form.setWantedList(&wanted);
    form.PingCheck()->setChecked(false);
    form.show();
    QSignalSpy transfers(&form, &TfrmSearch::transfersRequested);
    form.search().readReply(found(7, -1, "Album", "ann", true) +
                                found(42, 10, "mine.mp3", "me", true) +
                                found(8, 3000, "b.mp3", "ben", false) +
                                found(7, 5000, "locked.mp3", "ann", true, true) +
                                found(7, 6000, "also.mp3", "ann", true, true),
                            false);
    EXPECT_EQ(form.statusText(), "5 items found.");
    EXPECT_EQ(form.message(), "");

    const auto select = [&](int row) {
        form.List()->setCurrentIndex(form.results().index(row, 0));
        form.SearchMenuPopup();
    };
    form.SearchMenuPopup();
    const QList<QAction*> six = {form.actDownload(),    form.actTree(),        form.actUserInfo(),
                                 form.actSendMessage(), form.actAddComputer(), form.actPTPChat()};
    for (QAction* a : six) {
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_EQ(form.actDownloadExecute(), std::nullopt);
    select(2);
    EXPECT_TRUE(form.actTree()->isEnabled() && form.actUserInfo()->isEnabled() &&
                form.actAddComputer()->isEnabled());
    EXPECT_FALSE(form.actDownload()->isEnabled() || form.actSendMessage()->isEnabled() ||
                 form.actPTPChat()->isEnabled());
    select(0);
    for (QAction* a : six) {
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_FALSE(form.actUpload()->isEnabled());
    EXPECT_TRUE(form.actPTPChat()->isVisible() && form.actAddComputer()->isVisible());

    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::Folder);
    select(1);
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::OwnFile);
    // An offline owner's file is queued all the same: the queue waits for him.
    select(2);
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::Queued);
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::AlreadyQueued);
    select(3);
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::NoPassword);
    prompt.answer = "pw";
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::Queued);
    // The folder's other protected file is not asked for again.
    prompt.answer.reset();
    select(4);
    EXPECT_EQ(form.actDownloadExecute(), SearchDownload::Queued);
    EXPECT_EQ(wanted.at(2)->Password, "pw");
    EXPECT_EQ(transfers.count(), 3);
    ASSERT_EQ(wanted.count(), 3);
    EXPECT_EQ(wanted.at(0)->Path, "/Music/b.mp3");
    EXPECT_EQ(wanted.at(0)->UserName, "ben");
    EXPECT_EQ(wanted.at(1)->PeerId, 7);
    EXPECT_EQ(wanted.at(1)->Password, "pw");

    form.actClear()->trigger();
    EXPECT_EQ(form.results().rowCount(), 0);
}

}  // namespace
}  // namespace mr
