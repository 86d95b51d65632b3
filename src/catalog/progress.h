#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

namespace mr {

// The channel between a catalog worker and its progress window. The worker posts; the window,
// on the main thread, gets the posts as queued signals and sets the cancel flag.
class Progress : public QObject {
    Q_OBJECT
public:
    // The gauge value posted at the end: fill the gauge.
    static constexpr int kFull = -1;

    explicit Progress(QObject* parent = nullptr);

    // done / total x 95, truncated: a running operation shows at most 95.
    static int percentage(int done, int total);

    // Any thread.
    void postProgress(int percent) { emit progressChanged(percent); }
    void postText(const QString& text) { emit textChanged(text); }
    void postClose() { emit closeRequested(); }
    // Posts the current percentage when it differs from the one posted last and is a multiple
    // of 6: the gauge moves in steps without flooding the main thread.
    void postStep();

    // Posts the final gauge and the close on every way out of a worker.
    struct CloseOnExit {
        Progress& progress;
        ~CloseOnExit() {
            progress.postProgress(kFull);
            progress.postClose();
        }
    };

    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled.load(); }

    std::atomic<int> done{0};
    std::atomic<int> total{-1};

signals:
    // A percentage, or kFull.
    void progressChanged(int percent);
    void textChanged(const QString& text);
    // Ends the window's modal loop.
    void closeRequested();

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_lastStep{-2};
};

// The modal progress window of a catalog operation, and the busy cursor around it. The desktop
// shows a window with a gauge and "Cancel"; the console program prints; without either a plain
// event loop waits.
class ProgressView {
public:
    virtual ~ProgressView();
    // Shows the window, calls start (which starts the worker) and returns once the progress
    // asks for close. Runs on the main thread.
    virtual void exec(Progress& progress, const QString& caption, const QString& text,
                      const std::function<void()>& start);
    virtual void setBusy(bool busy);
};

// The view used when a tree has none.
ProgressView& silentProgressView();

// Captions and texts of the progress window.
inline constexpr char kPleaseWaitCaption[] = "Please Wait";
inline constexpr char kReadingDataText[] = "Reading Data";
inline constexpr char kSharingFilesText[] = "Sharing Files";
inline constexpr char kRemovingShareText[] = "Removing Share";
inline constexpr char kUpdatingServerText[] = "Updating Server";

}  // namespace mr
