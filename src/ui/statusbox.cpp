#include "ui/statusbox.h"

#include "ui/icons.h"
#include "ui/sidebar.h"

#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace mr {

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

bool isRunning(int image) {
    return image < TfrmStatusBox::kFirstSuccessImage;
}

}  // namespace

TfrmStatusBox::TfrmStatusBox(QWidget* parent)
    : QFrame(parent), m_lvwTasks(new QListWidget(this)), m_tmrTasks(new QTimer(this)) {
    setObjectName(QStringLiteral("frmStatusBox"));
    setWindowTitle(QStringLiteral("Tasks Status"));
    setFrameShape(QFrame::StyledPanel);

    const DockHeader header = makeDockHeader(this, QStringLiteral("pnlStatusBoxHeader"),
                                             QStringLiteral("btnStatusBoxClose"));
    connect(header.close, &QToolButton::clicked, this, &TfrmStatusBox::closeRequested);

    m_lvwTasks->setObjectName(QStringLiteral("lvwTasks"));
    m_lvwTasks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lvwTasks->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvwTasks->setIconSize(QSize(16, 16));
    // Long task texts wrap in the narrow side bar rather than lose their ends.
    m_lvwTasks->setWordWrap(true);
    m_lvwTasks->setTextElideMode(Qt::ElideNone);
    m_lvwTasks->setResizeMode(QListView::Adjust);
    m_lvwTasks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lvwTasks->setFrameShape(QFrame::NoFrame);
    m_lvwTasks->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header.widget);
    layout->addWidget(m_lvwTasks, 1);

    m_tmrTasks->setObjectName(QStringLiteral("tmrTasks"));
    m_tmrTasks->setInterval(kTickMs);
    connect(m_tmrTasks, &QTimer::timeout, this, &TfrmStatusBox::tick);
}

void TfrmStatusBox::addTask(const QString& text, TaskKey key) {
    auto* item = new QListWidgetItem(text, m_lvwTasks);
    item->setData(kKeyRole, QVariant::fromValue(key));
    item->setToolTip(text);
    setImage(item, 0);
    m_lvwTasks->scrollToItem(item);
    updateTimer();
}

bool TfrmStatusBox::setTaskText(TaskKey key, const QString& text) {
    QListWidgetItem* item = findTask(key);
    if (!item) {
        return false;
    }
    item->setText(text);
    item->setToolTip(text);
    return true;
}

bool TfrmStatusBox::endTask(TaskKey key, bool success) {
    QListWidgetItem* item = findTask(key);
    if (!item) {
        return false;
    }
    setImage(item, success ? kFirstSuccessImage : kFirstFailureImage);
    updateTimer();
    return true;
}

int TfrmStatusBox::taskCount() const {
    return m_lvwTasks->count();
}

QString TfrmStatusBox::taskText(int row) const {
    const QListWidgetItem* item = m_lvwTasks->item(row);
    return item ? item->text() : QString();
}

int TfrmStatusBox::taskImage(int row) const {
    const QListWidgetItem* item = m_lvwTasks->item(row);
    return item ? item->data(kImageRole).toInt() : -1;
}

void TfrmStatusBox::tick() {
    for (int row = m_lvwTasks->count() - 1; row >= 0; --row) {
        QListWidgetItem* item = m_lvwTasks->item(row);
        const int image = item->data(kImageRole).toInt();
        if (isRunning(image)) {
            setImage(item, 1 - image);
            continue;
        }
        const int next = image + 1;
        if (next == kFirstFailureImage || next == kImageCount) {
            delete item;
        } else {
            setImage(item, next);
        }
    }
    updateTimer();
}

void TfrmStatusBox::setAutoTick(bool on) {
    m_autoTick = on;
    updateTimer();
}

QListWidgetItem* TfrmStatusBox::findTask(TaskKey key) const {
    QListWidgetItem* first = nullptr;
    for (int row = 0; row < m_lvwTasks->count(); ++row) {
        QListWidgetItem* item = m_lvwTasks->item(row);
        if (item->data(kKeyRole).value<TaskKey>() != key) {
            continue;
        }
        // A task that is still fading out must not swallow the news meant for a newer one.
        if (isRunning(item->data(kImageRole).toInt())) {
            return item;
        }
        if (!first) {
            first = item;
        }
    }
    return first;
}

void TfrmStatusBox::setImage(QListWidgetItem* item, int image) {
    item->setData(kImageRole, image);
    item->setIcon(mr::taskImage(image));
}

void TfrmStatusBox::updateTimer() {
    // The clock sleeps while the list is empty.
    const bool wanted = m_autoTick && m_lvwTasks->count() > 0;
    if (wanted && !m_tmrTasks->isActive()) {
        m_tmrTasks->start();
    } else if (!wanted) {
        m_tmrTasks->stop();
    }
}

}  // namespace mr
