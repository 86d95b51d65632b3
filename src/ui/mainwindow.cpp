#include "ui/mainwindow.h"

#include "core/profile.h"

namespace mr {

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent), m_mdiArea(new QMdiArea(this)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(captionFor(UserInfo().nickname()));
    setCentralWidget(m_mdiArea);
    resize(800, 600);
}

QString TfrmMain::captionFor(const QString& nickname) {
    return QStringLiteral("Moonrake Ver 1.05 Beta - ") + nickname;
}

}  // namespace mr
