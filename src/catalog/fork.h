#pragma once

#include <QThread>

#include <functional>
#include <tuple>
#include <utility>

namespace mr {

// A worker thread around one bound method and up to four arguments. It frees itself once the
// method has returned (on the next turn of the main thread's event loop); an owner that must
// be sure it has ended may hold a QPointer to it and wait() on it.
class TFork : public QThread {
    Q_OBJECT
public:
    // Starts at once.
    template <typename Method, typename... Args>
    static TFork* Start(Method method, Args... args) {
        TFork* fork = Create(std::move(method), std::move(args)...);
        fork->start();
        return fork;
    }

    // Created suspended; whoever shows the progress window starts it.
    template <typename Method, typename... Args>
    static TFork* Create(Method method, Args... args) {
        static_assert(sizeof...(Args) <= 4, "a fork carries at most four arguments");
        return new TFork([method = std::move(method),
                          arguments = std::make_tuple(std::move(args)...)]() mutable {
            std::apply(method, std::move(arguments));
        });
    }

protected:
    void run() override;

private:
    explicit TFork(std::function<void()> call);

    std::function<void()> m_call;
};

}  // namespace mr
