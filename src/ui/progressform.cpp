#include "ui/progressform.h"

#include "catalog/confirmations.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace mr {

TProgressForm::TProgressForm(Progress& progress, const QString& caption, const QString& text,
                             QWidget* parent)
    : QDialog(parent),
      m_progress(progress),
      m_lblText(new QLabel(text, this)),
      m_gauge(new QProgressBar(this)),
      m_btnCancel(new QPushButton(tr("Cancel"), this)) {
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(caption);
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_lblText->setObjectName(QStringLiteral("lblText"));
    m_gauge->setObjectName(QStringLiteral("pbProgress"));
    m_gauge->setRange(0, 100);
    m_gauge->setValue(0);
    m_gauge->setTextVisible(false);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnCancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnCancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblText);
    layout->addWidget(m_gauge);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(m_btnCancel, &QPushButton::clicked, this, [this] { m_progress.cancel(); });
    // The worker posts from its own thread: these arrive as queued calls.
    connect(&progress, &Progress::progressChanged, this, &TProgressForm::setProgress);
    connect(&progress, &Progress::textChanged, m_lblText, &QLabel::setText);
    // Always queued, so that a close posted before the modal loop runs still ends it.
    connect(
        &progress, &Progress::closeRequested, this, [this] { done(QDialog::Accepted); },
        Qt::QueuedConnection);
}

void TProgressForm::setProgress(int percent) {
    m_gauge->setValue(percent == Progress::kFull ? m_gauge->maximum()
                                                 : qBound(0, percent, m_gauge->maximum()));
}

void TProgressForm::reject() {
    m_progress.cancel();
}

ProgressFormView::ProgressFormView(QWidget* parent) : m_parent(parent) {}

ProgressFormView::~ProgressFormView() {
    while (m_busy > 0)
        setBusy(false);
}

void ProgressFormView::exec(Progress& progress, const QString& caption, const QString& text,
                            const std::function<void()>& start) {
    QWidget* parent = m_parent ? m_parent.data() : QApplication::activeWindow();
    TProgressForm form(progress, caption, text, parent);
    // The worker starts once the window is up, from inside its modal loop.
    QTimer::singleShot(0, &form, [this, &form, &start] {
        if (m_shown)
            m_shown(form);
        start();
    });
    form.exec();
}

void ProgressFormView::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_busy;
    } else if (m_busy > 0) {
        QApplication::restoreOverrideCursor();
        --m_busy;
    }
}

ProgressFormView& desktopProgressView() {
    static ProgressFormView view;
    return view;
}

CatalogPrompts& catalogPrompts() {
    static CatalogPrompts prompts{
        [](QWidget* parent, const QString& text) {
            return QMessageBox::question(parent, QObject::tr("Confirm"), text,
                                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        },
        [](QWidget* parent, const QString& text) {
            QMessageBox::warning(parent, QApplication::applicationName(), text);
        }};
    return prompts;
}

bool confirmShare(QWidget* parent, int count) {
    return count <= kShareConfirmLimit ||
           catalogPrompts().yesNo(parent, shareConfirmationText(count));
}

bool confirmRemove(QWidget* parent, const QString& fullPath) {
    return catalogPrompts().yesNo(parent, removeConfirmationText(fullPath));
}

}  // namespace mr
