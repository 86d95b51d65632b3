#pragma once

#include "catalog/progress.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace mr {

// The modal window of a running catalog operation: a caption, one text line, a gauge and
// "Cancel". The worker drives it through its Progress; only the worker's close ends it.
class TProgressForm : public QDialog {
    Q_OBJECT
public:
    TProgressForm(Progress& progress, const QString& caption, const QString& text,
                  QWidget* parent = nullptr);

    QLabel* lblText() const { return m_lblText; }
    QProgressBar* gauge() const { return m_gauge; }
    QPushButton* btnCancel() const { return m_btnCancel; }

public slots:
    // A percentage, or Progress::kFull to fill the gauge.
    void setProgress(int percent);

protected:
    // Escape and the close box cancel like the button; the window stays until the worker
    // has stopped and posts its close.
    void reject() override;

private:
    Progress& m_progress;
    QLabel* m_lblText;
    QProgressBar* m_gauge;
    QPushButton* m_btnCancel;
};

// The desktop's progress view: a TProgressForm for each operation and the busy cursor.
class ProgressFormView : public ProgressView {
public:
    // parent: the window the forms are centred on; null: the active window.
    explicit ProgressFormView(QWidget* parent = nullptr);
    ~ProgressFormView() override;

    void exec(Progress& progress, const QString& caption, const QString& text,
              const std::function<void()>& start) override;
    void setBusy(bool busy) override;

    // Called with each form once it is up, just before the worker starts.
    void setShownHook(std::function<void(TProgressForm&)> hook) { m_shown = std::move(hook); }

private:
    QPointer<QWidget> m_parent;
    std::function<void(TProgressForm&)> m_shown;
    int m_busy = 0;
};

// The view every catalog tree of the desktop uses.
ProgressFormView& desktopProgressView();

// The message boxes of the catalog windows. Tests replace them so that no real box blocks.
struct CatalogPrompts {
    // A Yes/No question; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> yesNo;
    // An error or a refusal, acknowledged with OK.
    std::function<void(QWidget* parent, const QString& text)> warning;
};
// Starts with real message boxes.
CatalogPrompts& catalogPrompts();

// True when a share of count items may go ahead: small ones need no question.
bool confirmShare(QWidget* parent, int count);
// True when the user agrees to remove the entry at fullPath from the catalog.
bool confirmRemove(QWidget* parent, const QString& fullPath);

}  // namespace mr
