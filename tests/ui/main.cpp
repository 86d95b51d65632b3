#include "core/profile.h"
#include "uitest.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Window tests run without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);

    // Every frame reads its caption from the settings of an active profile.
    QTemporaryDir profile;
    if (!profile.isValid()) {
        return 1;
    }
    mr::setActiveProfile(profile.path());
    mr::UserInfo().setNickname(mr::test::kNickname);
    return RUN_ALL_TESTS();
}
