#include "ui/server.h"

#include "service/session.h"
#include "transfer/queue.h"
#include "ui/aboutbox.h"
#include "ui/actualexplorer.h"
#include "ui/commands.h"
#include "ui/localexplorer.h"
#include "ui/mainwindow.h"
#include "ui/mditile.h"
#include "ui/remoteexplorer.h"
#include "ui/sidebar.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace mr {

namespace {

TServer* g_server = nullptr;

}  // namespace

TServer::TServer(TfrmMain& main) : QObject(&main), m_main(main) {
    setObjectName(QStringLiteral("Server"));
    g_server = this;
}

TServer::~TServer() {
    if (g_server == this) {
        g_server = nullptr;
    }
}

TServer& Server() {
    Q_ASSERT_X(g_server, "Server", "no main window yet");
    return *g_server;
}

void TServer::ShowStatus(const QString& text, TTaskKey key) {
    m_main.statusBox()->addTask(text, key);
}

void TServer::SetTaskText(TTaskKey key, const QString& text) {
    ShowStatusBox(true);
    m_main.statusBox()->setTaskText(key, text);
}

void TServer::EndTask(TTaskKey key, bool success) {
    ShowStatusBox(true);
    m_main.statusBox()->endTask(key, success);
}

void TServer::ShowStatusBox(bool show) {
    m_main.sideBar()->showDocked(m_main.statusBox(), show);
    m_main.commands().actStatusBox->setChecked(show);
}

void TServer::SetOnlineCounts(int users, int files) {
    m_main.lblOnlineStatus()->setText(
        QStringLiteral("Online Users: %1\nOnline Files: %2").arg(users).arg(files));
}

void TServer::UpdateCaption(const QString& caption, const QString& description) {
    QString text = QStringLiteral("Moonrake");
    if (!caption.trimmed().isEmpty()) {
        text += QStringLiteral(" - ") + caption;
    }
    m_main.lblCaptionBar()->setText(text);
    m_main.lblMain()->setText(description);
}

void TServer::Cascade() {
    m_main.mdiArea()->cascadeSubWindows();
}

void TServer::TileHorizontally() {
    tileHorizontally(m_main.mdiArea());
}

void TServer::TileVertically() {
    tileVertically(m_main.mdiArea());
}

void TServer::ShowAbout() {
    if (!m_about) {
        m_about = new TfrmAbout(&m_main);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setModal(true);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void TServer::CloseProgram() {
    m_main.closeProgram();
}

void TServer::Connect() {
    emit connectRequested();
}

void TServer::Disconnect() {
    emit disconnectRequested();
}

void TServer::ShowPreferences() {
    emit preferencesRequested();
}

void TServer::setOnlineSession(TOnlineSession* session) {
    m_session = session;
}

TOnlineSession* TServer::onlineSession() const {
    return m_session;
}

TfrmRemoteExplorer* TServer::Browse(const QString& userName, qint32 userId) {
    if (!m_session || !m_session->online()) {
        // A key no other task uses, so that ending it finds the task just added.
        static const char connectFirst = 0;
        ShowStatus(QStringLiteral("You must connect first"), taskKey(&connectFirst));
        EndTask(taskKey(&connectFirst), false);
        return nullptr;
    }
    auto* form = new TfrmRemoteExplorer(m_session, userName, userId);
    form->setWantedList(m_wanted);
    addChildWindow(form);
    return form;
}

TfrmLocalExplorer* TServer::ShowLocalFiles() {
    auto* form = new TfrmLocalExplorer(m_session);
    addChildWindow(form);
    return form;
}

TfrmActualExplorer* TServer::ShowShareFiles() {
    auto* form = new TfrmActualExplorer;
    connect(form, &TfrmActualExplorer::shareRequested, form, [this, form](const QString& fsPath) {
        TfrmLocalExplorer::ShareFromDisk(form, m_session, fsPath, QStringLiteral("/"));
    });
    addChildWindow(form);
    return form;
}

TfrmActualExplorer* TServer::ShowDownloadDir() {
    TfrmActualExplorer* form = ShowShareFiles();
    form->GoToDownloadDirectory();
    return form;
}

void TServer::addChildWindow(TfrmExplorer* form) {
    QMdiArea* area = m_main.mdiArea();
    QMdiSubWindow* sub = area->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    connect(area, &QMdiArea::subWindowActivated, form, [this, form, sub](QMdiSubWindow* active) {
        if (active == sub)
            UpdateCaption(form->windowTitle(), form->description());
    });
    // A window made of parts tells which part has the focus.
    connect(form, &TfrmExplorer::descriptionChanged, form, [this, form, sub, area] {
        if (area->activeSubWindow() == sub)
            UpdateCaption(form->windowTitle(), form->description());
    });
    placeChildWindow(area, sub, QSize(780, 540));
    sub->show();
    area->setActiveSubWindow(sub);
}

}  // namespace mr
