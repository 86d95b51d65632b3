#include "ui/favoritesform.h"

#include "service/agent.h"
#include "ui/icons.h"
#include "ui/sidebar.h"

#include <QAction>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace mr {

TfrmContactAction::TfrmContactAction(ContactAction* action, QWidget* parent)
    : QWidget(parent, Qt::Dialog),
      m_action(action),
      m_animation(new QProgressBar(this)),
      m_label(new QLabel(QString::fromLatin1(kWaitingForAuthorizationText), this)) {
    setObjectName(QStringLiteral("frmContactAction"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(action->caption());
    action->setParent(this);
    m_animation->setObjectName(QStringLiteral("Animate1"));
    m_animation->setTextVisible(false);
    m_label->setObjectName(QStringLiteral("lblStatus"));
    m_label->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_animation);
    layout->addWidget(m_label);
    setFixedSize(320, 90);
    connect(action, &ContactAction::finished, this, &TfrmContactAction::finished);
}

void TfrmContactAction::start() {
    m_animation->setRange(0, 0);
    emit ShowStatus(m_action->startText(), taskKey(m_action));
    m_action->start();
}

void TfrmContactAction::finished(ContactAction::Outcome outcome) {
    m_animation->setRange(0, 1);
    const QString& nick = m_action->nickname();
    if (outcome == ContactAction::Outcome::NotMember) {
        m_label->setText(ContactAction::notMemberLabel(nick));
    }
    emit SetTaskText(taskKey(m_action), ContactAction::outcomeText(outcome, nick));
    emit EndTask(taskKey(m_action), ContactAction::succeeded(outcome));
    close();
}

TfrmFavorites::TfrmFavorites(QWidget* parent)
    : QFrame(parent), m_lvwContacts(new QTreeWidget(this)), m_popFavourites(new QMenu(this)) {
    setObjectName(QStringLiteral("frmFavorites"));
    setWindowTitle(QString::fromLatin1(kContactsCaption));
    setFrameShape(QFrame::StyledPanel);

    // A caption with a close button, as the status box below it has.
    const DockHeader header = makeDockHeader(this, QStringLiteral("pnlFavoritesHeader"),
                                             QStringLiteral("btnFavoritesClose"));
    connect(header.close, &QToolButton::clicked, this, &TfrmFavorites::closeRequested);

    m_lvwContacts->setObjectName(QStringLiteral("lvwContacts"));
    m_lvwContacts->setHeaderHidden(true);
    m_lvwContacts->setRootIsDecorated(false);
    m_lvwContacts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvwContacts->setFrameShape(QFrame::NoFrame);
    m_lvwContacts->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header.widget);
    layout->addWidget(m_lvwContacts, 1);

    m_popFavourites->setObjectName(QStringLiteral("popFavourites"));
    auto action = [this](const char* name, const QString& caption) {
        auto* a = m_popFavourites->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    m_actAddComputer = action("actAddComputer", QStringLiteral("Add Computer"));
    m_actDeleteComputer = action("actDeleteComputer", QStringLiteral("Delete Computer"));
    m_popFavourites->addSeparator();
    m_actUsersTree = action("actUsersTree", QStringLiteral("Go To Users Tree"));
    m_actUserInfo = action("actUserInfo", QStringLiteral("User Information"));
    m_actSendMessage = action("actSendMessage", QStringLiteral("Send Message"));
    m_actRequestChat = action("actRequestChat", QStringLiteral("Request Chat"));
    m_actUpload = action("actUpload", QStringLiteral("Upload File"));
    // Uploading to a member has no command behind it.
    m_actUpload->setEnabled(false);

    connect(m_popFavourites, &QMenu::aboutToShow, this, &TfrmFavorites::popFavouritesPopup);
    connect(m_lvwContacts, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_popFavourites->popup(m_lvwContacts->viewport()->mapToGlobal(at));
    });
    connect(m_lvwContacts, &QTreeWidget::itemDoubleClicked, this,
            [this] { emitForSelected(&TfrmFavorites::userTreeRequested); });
    connect(m_actAddComputer, &QAction::triggered, this, &TfrmFavorites::actAddComputerExecute);
    connect(m_actDeleteComputer, &QAction::triggered, this, [this] {
        if (const QTreeWidgetItem* row = m_lvwContacts->currentItem(); row && row->isSelected()) {
            RemoveContact(row->data(0, kUserIdRole).toInt(), row->text(0));
        }
    });
    connect(m_actUsersTree, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmFavorites::userTreeRequested); });
    connect(m_actUserInfo, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmFavorites::userInformationRequested); });
    connect(m_actSendMessage, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmFavorites::messageRequested); });
    connect(m_actRequestChat, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmFavorites::chatRequested); });

    connect(&m_list, &ContactList::contactsChanged, this, &TfrmFavorites::showContacts);
    connect(&m_list, &ContactList::statisticsReceived, this, &TfrmFavorites::statisticsReceived);
}

void TfrmFavorites::setAgent(TMRAgentHttp* agent) {
    m_agent = agent;
    m_list.setAgent(agent);
}

void TfrmFavorites::load() {
    m_list.load();
    m_list.startPolling();
}

void TfrmFavorites::showContacts() {
    // The rows are made again in the list's order; the selected member stays selected.
    const QTreeWidgetItem* current = m_lvwContacts->currentItem();
    const QVariant selected =
        current && current->isSelected() ? current->data(0, kUserIdRole) : QVariant();
    m_lvwContacts->clear();
    for (const Contact& contact : m_list.contacts()) {
        auto* row = new QTreeWidgetItem(m_lvwContacts, {contact.nickname});
        row->setIcon(0, QIcon(onlineImage(contact.online)));
        row->setData(0, kUserIdRole, contact.userId);
        row->setData(0, kOnlineRole, contact.online);
        if (selected.isValid() && selected.toInt() == contact.userId) {
            m_lvwContacts->setCurrentItem(row);
        }
    }
}

void TfrmFavorites::actAddComputerExecute() {
    bool ok = false;
    const QString nick =
        QInputDialog::getText(this, m_actAddComputer->text(),
                              QString::fromLatin1(kAddContactPrompt), QLineEdit::Normal, {}, &ok);
    if (ok) {
        AddContact(nick);
    }
}

TfrmContactAction* TfrmFavorites::AddContact(const QString& nickname) {
    const QString nick = nickname.trimmed();
    if (nick.isEmpty()) {
        return nullptr;
    }
    if (IsOwnNickname(nick)) {
        const QString text = QString::fromLatin1(kAddYourselfText);
        if (m_messageSink) {
            m_messageSink(text);
        } else {
            QMessageBox::critical(this, QString::fromLatin1(kContactsCaption), text);
        }
        return nullptr;
    }
    return openAction(new ContactAction(m_agent, ContactAction::Kind::Add, nick));
}

TfrmContactAction* TfrmFavorites::RemoveContact(qint32 userId, const QString& nickname) {
    return openAction(new ContactAction(m_agent, ContactAction::Kind::Remove, nickname, userId));
}

TfrmContactAction* TfrmFavorites::openAction(ContactAction* action) {
    auto* form = new TfrmContactAction(action, this);
    connect(form, &TfrmContactAction::ShowStatus, this, &TfrmFavorites::ShowStatus);
    connect(form, &TfrmContactAction::SetTaskText, this, &TfrmFavorites::SetTaskText);
    connect(form, &TfrmContactAction::EndTask, this, &TfrmFavorites::EndTask);
    // The list shows a change made here at once, without waiting for the next poll.
    connect(action, &ContactAction::finished, this, [this](ContactAction::Outcome outcome) {
        if (ContactAction::succeeded(outcome)) {
            m_list.load();
        }
        if (outcome == ContactAction::Outcome::Added) {
            m_list.refresh();
        }
    });
    form->show();
    form->start();
    return form;
}

void TfrmFavorites::popFavouritesPopup() {
    const QTreeWidgetItem* row = m_lvwContacts->currentItem();
    const bool selected = row != nullptr && row->isSelected();
    const bool online = selected && row->data(0, kOnlineRole).toBool();
    for (QAction* a : {m_actDeleteComputer, m_actUsersTree, m_actUserInfo}) {
        a->setEnabled(selected);
    }
    for (QAction* a : {m_actSendMessage, m_actRequestChat}) {
        a->setEnabled(online);
    }
}

void TfrmFavorites::emitForSelected(void (TfrmFavorites::*signal)(qint32, const QString&)) {
    const QTreeWidgetItem* row = m_lvwContacts->currentItem();
    if (row == nullptr || !row->isSelected()) {
        return;
    }
    // Copies: a receiver may change the list.
    const qint32 userId = row->data(0, kUserIdRole).toInt();
    const QString nick = row->text(0);
    emit(this->*signal)(userId, nick);
}

}  // namespace mr
