#include "ui/usersearchform.h"

#include "service/agent.h"
#include "ui/icons.h"

#include <QAction>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace mr {

namespace {

constexpr int kUserIdRole = Qt::UserRole;

QLineEdit* makeEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

}  // namespace

TfrmUserSearch::TfrmUserSearch(TMRAgentHttp* agent, QWidget* parent)
    : QWidget(parent), m_agent(agent) {
    setObjectName(QStringLiteral("frmUserSearch"));
    setWindowTitle(QStringLiteral("White Pages"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_rdgSearch = new QGroupBox(QStringLiteral(" Search Options "), this);
    m_rdgSearch->setObjectName(QStringLiteral("rdgSearch"));
    m_options = new QButtonGroup(this);
    m_NickName = makeEdit("NickName", m_rdgSearch);
    m_Email = makeEdit("Email", m_rdgSearch);
    m_pnlName = new QWidget(m_rdgSearch);
    m_pnlName->setObjectName(QStringLiteral("pnlName"));
    m_FirstName = makeEdit("FirstName", m_pnlName);
    m_LastName = makeEdit("LastName", m_pnlName);
    auto* names = new QHBoxLayout(m_pnlName);
    names->setContentsMargins(0, 0, 0, 0);
    names->addWidget(m_FirstName);
    names->addWidget(m_LastName);

    auto* grid = new QGridLayout(m_rdgSearch);
    const QString captions[] = {QStringLiteral("By Nick Name:"), QStringLiteral("By EMail:"),
                                QStringLiteral("By First&&Last Name:")};
    QWidget* const edits[] = {m_NickName, m_Email, m_pnlName};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(captions[i], m_rdgSearch);
        m_options->addButton(radio, i);
        grid->addWidget(radio, i, 0);
        grid->addWidget(edits[i], i, 1);
    }
    grid->setColumnStretch(1, 1);

    m_btnSearch = new QPushButton(QStringLiteral("  &Search"), this);
    m_btnSearch->setObjectName(QStringLiteral("btnSearch"));
    m_btnSearch->setDefault(true);

    m_List = new QTreeWidget(this);
    m_List->setObjectName(QStringLiteral("List"));
    m_List->setRootIsDecorated(false);
    m_List->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_List->setSelectionMode(QAbstractItemView::SingleSelection);
    m_List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_List->setHeaderLabels({QStringLiteral("Nick"), QStringLiteral("First Name"),
                             QStringLiteral("Last Name"), QStringLiteral("Email")});
    const int widths[] = {75, 100, 100, 125};
    for (int i = 0; i < 4; ++i) {
        m_List->setColumnWidth(i, widths[i]);
    }
    m_List->setContextMenuPolicy(Qt::CustomContextMenu);

    m_SearchMenu = new QMenu(this);
    m_SearchMenu->setObjectName(QStringLiteral("SearchMenu"));
    auto action = [this](const char* name, const QString& caption) {
        auto* a = m_SearchMenu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    m_actAddComputer = action("actAddComputer", QStringLiteral("Add Computer"));
    m_actUserInfo = action("actUserInfo", QStringLiteral("User Information"));
    m_actTree = action("actTree", QStringLiteral("Go To Users Tree"));
    m_actClear = action("actClear", QStringLiteral("Clear List"));
    m_actSendMessage = action("actSendMessage", QStringLiteral("Send Message"));
    m_actPTPChat = action("actPTPChat", QStringLiteral("Request Chat"));
    m_actUpload = action("actUpload", QStringLiteral("Upload File"));
    // Uploading to a member has no command behind it.
    m_actUpload->setEnabled(false);

    connect(m_actUserInfo, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmUserSearch::userInformationRequested); });
    connect(m_actTree, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmUserSearch::userTreeRequested); });
    connect(m_actSendMessage, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmUserSearch::messageRequested); });
    connect(m_actPTPChat, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmUserSearch::chatRequested); });
    connect(m_actAddComputer, &QAction::triggered, this,
            [this] { emitForSelected(&TfrmUserSearch::addContactRequested); });
    connect(m_actClear, &QAction::triggered, m_List, &QTreeWidget::clear);
    connect(m_List, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        SearchMenuPopup();
        m_SearchMenu->popup(m_List->viewport()->mapToGlobal(at));
    });

    connect(m_options, &QButtonGroup::idClicked, this,
            [this](int id) { rdgSearchClick(static_cast<Option>(id)); });
    for (QLineEdit* edit : {m_NickName, m_Email, m_FirstName, m_LastName}) {
        connect(edit, &QLineEdit::textChanged, this, &TfrmUserSearch::updateSearchButton);
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            if (m_btnSearch->isEnabled()) {
                btnSearchClick();
            }
        });
    }
    connect(m_btnSearch, &QPushButton::clicked, this, &TfrmUserSearch::btnSearchClick);

    auto* top = new QHBoxLayout;
    top->addWidget(m_rdgSearch, 1);
    top->addWidget(m_btnSearch, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_List, 1);

    m_options->button(ByNickName)->setChecked(true);
    rdgSearchClick(ByNickName);
}

QString TfrmUserSearch::description() {
    return QStringLiteral(
        "User search allows users to search for other users that are online. To search all use "
        "the * key");
}

QRadioButton* TfrmUserSearch::option(Option which) const {
    return static_cast<QRadioButton*>(m_options->button(which));
}

TfrmUserSearch::Option TfrmUserSearch::chosen() const {
    const int id = m_options->checkedId();
    return id < 0 ? ByNickName : static_cast<Option>(id);
}

void TfrmUserSearch::rdgSearchClick(Option which) {
    option(which)->setChecked(true);
    m_NickName->setEnabled(which == ByNickName);
    m_Email->setEnabled(which == ByEmail);
    m_FirstName->setEnabled(which == ByName);
    m_LastName->setEnabled(which == ByName);
    (which == ByNickName ? m_NickName : which == ByEmail ? m_Email : m_FirstName)->setFocus();
    updateSearchButton();
}

void TfrmUserSearch::updateSearchButton() {
    // Searchable when the chosen option has something to search for: for the name option,
    // either name will do.
    bool hasText = false;
    switch (chosen()) {
        case ByNickName:
            hasText = !m_NickName->text().isEmpty();
            break;
        case ByEmail:
            hasText = !m_Email->text().isEmpty();
            break;
        case ByName:
            hasText = !m_FirstName->text().isEmpty() || !m_LastName->text().isEmpty();
            break;
    }
    m_btnSearch->setEnabled(hasText && !m_waiting);
}

void TfrmUserSearch::setWaiting(bool waiting) {
    m_waiting = waiting;
    m_rdgSearch->setEnabled(!waiting);
    updateSearchButton();
}

void TfrmUserSearch::btnSearchClick() {
    if (m_waiting) {
        return;
    }
    m_List->clear();
    UserSearchPatterns p;
    switch (chosen()) {
        case ByNickName:
            p = UserSearchPatterns::byNickname(m_NickName->text());
            break;
        case ByEmail:
            p = UserSearchPatterns::byEmail(m_Email->text());
            break;
        case ByName:
            p = UserSearchPatterns::byName(m_FirstName->text(), m_LastName->text());
            break;
    }
    const bool placed =
        m_agent &&
        m_agent->SearchUsers(
            this, [this](TRequest& request) { SearchReply(request.failed(), request.replyData()); },
            p.nickname, p.firstName, p.lastName, p.email);
    if (!placed) {
        if (m_messageSink) {
            m_messageSink(QString::fromLatin1(kNotOnlineText));
        } else {
            QMessageBox::information(this, windowTitle(), QString::fromLatin1(kNotOnlineText));
        }
        return;
    }
    setWaiting(true);
}

void TfrmUserSearch::SearchReply(bool failed, const QByteArray& data) {
    if (!failed) {
        for (const FoundUser& user : ParseUserSearchReply(data)) {
            auto* row = new QTreeWidgetItem(
                m_List, {user.nickname, user.firstName, user.lastName, user.email});
            row->setIcon(0, QIcon(onlineImage(user.online)));
            row->setData(0, kUserIdRole, user.userId);
        }
    }
    setWaiting(false);
}

void TfrmUserSearch::SearchMenuPopup() {
    const bool selected = m_List->currentItem() != nullptr && m_List->currentItem()->isSelected();
    for (QAction* a :
         {m_actAddComputer, m_actUserInfo, m_actTree, m_actClear, m_actSendMessage, m_actPTPChat}) {
        a->setEnabled(selected);
    }
}

void TfrmUserSearch::emitForSelected(void (TfrmUserSearch::*signal)(qint32, const QString&)) {
    const QTreeWidgetItem* row = m_List->currentItem();
    if (row == nullptr || !row->isSelected()) {
        return;
    }
    emit(this->*signal)(row->data(0, kUserIdRole).toInt(), row->text(0));
}

}  // namespace mr
