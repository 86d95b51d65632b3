#include "service/session.h"
#include "transfer/datamodule.h"
#include "ui/commands.h"
#include "ui/controller.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/transferform.h"
#include "uitest.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace mr {
namespace {

TEST(CommandTable, CommandsComeAliveWithTheSessionAndThePeers) {
    test::ScopedProfile profile;
    TMRDataModule data(profile.path());
    ASSERT_EQ(data.create(), TMRDataModule::StartResult::Started);
    TfrmMain frame;
    frame.show();
    TdmCommands& c = frame.commands();
    const QList<QAction*> live = {c.actConnect, c.actPreferences, c.actTransfers, c.actBannedUsers};
    for (QAction* a : live)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();

    DesktopSession desktop(frame, &data);
    for (QAction* a : live)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    QSignalSpy connects(&desktop.session(), &OnlineSession::connectFinished);
    c.actConnect->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 1; }, 15000));
    // The reconnect timer retries even while the command has disabled itself.
    frame.setConnectEnabled(false);
    EXPECT_EQ(c.tmrReconnect->interval(), 60000);
    QMetaObject::invokeMethod(c.tmrReconnect, "timeout");
    ASSERT_TRUE(test::waitUntil([&] { return connects.count() == 2; }, 15000));

    // The single windows come once; the transfer window refuses to close.
    for (QAction* a : {c.actTransfers, c.actBannedUsers, c.actTransfers, c.actBannedUsers})
        a->trigger();
    QList<QMdiSubWindow*> windows = frame.mdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 2);
    QMdiSubWindow* transfers =
        qobject_cast<Tfrm_transfer*>(windows[0]->widget()) ? windows[0] : windows[1];
    EXPECT_FALSE(transfers->close());
    frame.mdiArea()->setActiveSubWindow(transfers);
    EXPECT_EQ(frame.lblCaptionBar()->text(), "Moonrake - Transfers");
    EXPECT_EQ(frame.lblMain()->text(), Tfrm_transfer::description());
}

}  // namespace
}  // namespace mr
