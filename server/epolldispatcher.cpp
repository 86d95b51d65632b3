#include "epolldispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace mr::server {

namespace {

// Marks the eventfd's entry in the epoll set; a descriptor's entry carries its number and
// generation, which never make this value.
constexpr std::uint64_t kWakeToken = ~std::uint64_t{0};
constexpr int kMaxReady = 512;

// What wakes each kind of notifier, as with poll(): a hang-up or an error wakes them all, so
// that their owners find out at once.
constexpr std::uint32_t kWants[3] = {EPOLLIN, EPOLLOUT, EPOLLPRI};
constexpr std::uint32_t kWakes[3] = {EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR,
                                     EPOLLOUT | EPOLLHUP | EPOLLERR,
                                     EPOLLPRI | EPOLLHUP | EPOLLERR};

std::uint64_t watchToken(int fd, std::uint32_t generation) {
    return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
}

}  // namespace

std::unique_ptr<EpollDispatcher> EpollDispatcher::create(QString* error) {
    const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        *error = QStringLiteral("no epoll set: ") + QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        *error = QStringLiteral("no eventfd: ") + QString::fromLocal8Bit(std::strerror(errno));
        ::close(epollFd);
        return nullptr;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeToken;
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &event) != 0) {
        *error = QStringLiteral("cannot watch the eventfd: ") +
                 QString::fromLocal8Bit(std::strerror(errno));
        ::close(wakeFd);
        ::close(epollFd);
        return nullptr;
    }
    return std::unique_ptr<EpollDispatcher>(new EpollDispatcher(epollFd, wakeFd));
}

EpollDispatcher::EpollDispatcher(int epollFd, int wakeFd)
    : m_epoll(epollFd), m_wake(wakeFd), m_ready(kMaxReady) {}

EpollDispatcher::~EpollDispatcher() {
    ::close(m_wake);
    ::close(m_epoll);
}

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupted.store(false, std::memory_order_relaxed);
    emit awake();
    QCoreApplication::sendPostedEvents();

    const bool timers = !flags.testFlag(QEventLoop::X11ExcludeTimers);
    const bool notifiers = !flags.testFlag(QEventLoop::ExcludeSocketNotifiers);
    const bool canWait = flags.testFlag(QEventLoop::WaitForMoreEvents) &&
                         !m_interrupted.load(std::memory_order_relaxed);
    if (canWait) {
        emit aboutToBlock();
    }
    if (m_interrupted.load(std::memory_order_relaxed)) {
        return false;
    }
    const int timeout = !canWait ? 0 : timers ? waitTimeout() : -1;

    int handled = 0;
    std::vector<Pending> pending;
    if (notifiers) {
        const int ready = ::epoll_wait(m_epoll, m_ready.data(), kMaxReady, timeout);
        if (ready < 0 && errno != EINTR) {
            qWarning("EpollDispatcher: epoll_wait: %s", std::strerror(errno));
        }
        // Read out before anything is delivered: a nested loop reuses the buffer.
        for (int i = 0; i < ready; ++i) {
            if (m_ready[i].data.u64 == kWakeToken) {
                handled += drainWake() ? 1 : 0;
            } else {
                collect(i, pending);
            }
        }
    } else {
        // Only a wake-up may end the wait; the epoll set would report the sockets too.
        pollfd wake{m_wake, POLLIN, 0};
        if (::poll(&wake, 1, timeout) > 0) {
            handled += drainWake() ? 1 : 0;
        }
    }
    if (timers) {
        handled += activateTimers();
    }
    handled += activateNotifiers(pending);
    return handled > 0;
}

bool EpollDispatcher::drainWake() {
    std::uint64_t count = 0;
    const bool read = ::read(m_wake, &count, sizeof count) == sizeof count;
    // After the read: a wake-up that comes between the two writes again, and one that came
    // before is paired with this exchange, so the event it posted is seen next turn.
    m_woken.exchange(false, std::memory_order_acq_rel);
    return read;
}

void EpollDispatcher::collect(int index, std::vector<Pending>& pending) {
    const epoll_event& event = m_ready[index];
    const int fd = static_cast<int>(event.data.u64 & 0xffffffffu);
    const auto generation = static_cast<std::uint32_t>(event.data.u64 >> 32);
    if (fd < 0 || static_cast<std::size_t>(fd) >= m_watches.size()) {
        return;
    }
    const Watch& watch = m_watches[fd];
    // An entry left behind by a descriptor closed while watched, now a different socket.
    if (watch.events == 0 || watch.generation != generation) {
        return;
    }
    for (int type = 0; type < 3; ++type) {
        if (watch.notifiers[type] && (event.events & kWakes[type])) {
            pending.push_back({fd, type, watch.tickets[type]});
        }
    }
}

int EpollDispatcher::activateNotifiers(const std::vector<Pending>& pending) {
    int activated = 0;
    for (const Pending& p : pending) {
        // Looked up afresh each time: the one before may have removed, replaced or added
        // notifiers (and grown the table), or closed the descriptor and reused its number.
        Watch& watch = m_watches[p.fd];
        QSocketNotifier* notifier = watch.notifiers[p.type];
        if (!notifier || watch.tickets[p.type] != p.ticket) {
            continue;
        }
        // A nested loop that finds the descriptor ready again serves it under a new ticket.
        watch.tickets[p.type] = ++m_nextTicket;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++activated;
    }
    return activated;
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const qintptr socket = notifier->socket();
    const int type = static_cast<int>(notifier->type());
    if (socket < 0 || socket > INT_MAX || type < 0 || type > 2) {
        return;
    }
    const int fd = static_cast<int>(socket);
    if (static_cast<std::size_t>(fd) >= m_watches.size()) {
        m_watches.resize(std::max<std::size_t>(fd + 1, m_watches.size() * 2));
    }
    Watch& watch = m_watches[fd];
    if (watch.notifiers[type] && watch.notifiers[type] != notifier) {
        qWarning("QSocketNotifier: Multiple socket notifiers for same socket %d", fd);
    }
    watch.notifiers[type] = notifier;
    watch.tickets[type] = ++m_nextTicket;
    updateWatch(fd, watch);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const qintptr socket = notifier->socket();
    const int type = static_cast<int>(notifier->type());
    if (socket < 0 || static_cast<std::size_t>(socket) >= m_watches.size() || type < 0 ||
        type > 2) {
        return;
    }
    const int fd = static_cast<int>(socket);
    Watch& watch = m_watches[fd];
    if (watch.notifiers[type] != notifier) {
        return;
    }
    watch.notifiers[type] = nullptr;
    watch.tickets[type] = 0;
    updateWatch(fd, watch);
}

void EpollDispatcher::updateWatch(int fd, Watch& watch) {
    std::uint32_t wanted = 0;
    for (int type = 0; type < 3; ++type) {
        if (watch.notifiers[type]) {
            wanted |= kWants[type];
        }
    }
    if (wanted == watch.events) {
        return;
    }
    if (wanted == 0) {
        // Fails harmlessly when the descriptor was closed first: closing left the set.
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        watch.events = 0;
        return;
    }
    epoll_event event{};
    event.events = wanted;
    int op = watch.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (op == EPOLL_CTL_ADD) {
        ++watch.generation;
    }
    event.data.u64 = watchToken(fd, watch.generation);
    int rc = ::epoll_ctl(m_epoll, op, fd, &event);
    if (rc != 0 && op == EPOLL_CTL_MOD && errno == ENOENT) {
        // Closed and reopened under the same number without its notifiers being removed.
        event.data.u64 = watchToken(fd, ++watch.generation);
        op = EPOLL_CTL_ADD;
        rc = ::epoll_ctl(m_epoll, op, fd, &event);
    } else if (rc != 0 && op == EPOLL_CTL_ADD && errno == EEXIST) {
        rc = ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
    }
    if (rc != 0) {
        qWarning("EpollDispatcher: cannot watch descriptor %d: %s", fd, std::strerror(errno));
        watch.events = 0;
        return;
    }
    watch.events = wanted;
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                    QObject* object) {
    if (timerId <= 0 || interval < 0 || !object) {
        return;
    }
    unregisterTimer(timerId);
    Timer& timer = m_timers[timerId];
    timer.object = object;
    timer.interval = interval;
    timer.type = timerType;
    timer.serial = ++m_nextSerial;
    timer.due = m_schedule.emplace(Clock::now() + std::chrono::milliseconds(interval), timerId);
}

bool EpollDispatcher::unregisterTimer(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it == m_timers.end()) {
        return false;
    }
    m_schedule.erase(it->second.due);
    m_timers.erase(it);
    return true;
}

bool EpollDispatcher::unregisterTimers(QObject* object) {
    bool any = false;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.object == object) {
            m_schedule.erase(it->second.due);
            it = m_timers.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(
    QObject* object) const {
    QList<TimerInfo> out;
    for (const auto& [id, timer] : m_timers) {
        if (timer.object == object) {
            out.append(TimerInfo(id, static_cast<int>(timer.interval), timer.type));
        }
    }
    return out;
}

int EpollDispatcher::remainingTime(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it == m_timers.end()) {
        return -1;
    }
    const auto left = it->second.due->first - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<qint64>(ms, INT_MAX));
}

int EpollDispatcher::waitTimeout() const {
    for (const auto& [due, id] : m_schedule) {
        // A timer whose event is still being delivered cannot fire, so it cannot end a wait.
        if (m_timers.at(id).firing) {
            continue;
        }
        const auto left = due - Clock::now();
        if (left <= Clock::duration::zero()) {
            return 0;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return static_cast<int>(std::min<qint64>(ms, INT_MAX));
    }
    return -1;
}

int EpollDispatcher::activateTimers() {
    if (m_schedule.empty()) {
        return 0;
    }
    const Clock::time_point now = Clock::now();
    const std::uint64_t pass = ++m_pass;
    // Those due now, counted first: a timer rescheduled within the pass (one of no interval
    // is due again at once) or set by a slot waits for the next one.
    std::size_t due = 0;
    for (auto it = m_schedule.begin(); it != m_schedule.end() && it->first <= now; ++it) {
        ++due;
    }
    int activated = 0;
    while (due-- > 0 && !m_schedule.empty()) {
        const auto first = m_schedule.begin();
        if (first->first > now) {
            break;
        }
        const int id = first->second;
        Timer& timer = m_timers.at(id);
        if (timer.pass == pass) {
            break;  // a slot killed one that was due, and this one came round again
        }
        timer.pass = pass;
        auto next = first->first + std::chrono::milliseconds(timer.interval);
        if (next < now) {
            next = now + std::chrono::milliseconds(timer.interval);  // no catching up
        }
        m_schedule.erase(first);
        timer.due = m_schedule.emplace(next, id);
        if (timer.interval > 0) {
            ++activated;
        }
        if (timer.firing) {
            continue;
        }
        timer.firing = true;
        const std::uint64_t serial = timer.serial;
        QTimerEvent event(id);
        // The slot may kill the timer, start another under the same id or delete the object.
        QCoreApplication::sendEvent(timer.object, &event);
        const auto it = m_timers.find(id);
        if (it != m_timers.end() && it->second.serial == serial) {
            it->second.firing = false;
        }
    }
    return activated;
}

void EpollDispatcher::wakeUp() {
    if (!m_woken.exchange(true, std::memory_order_acq_rel)) {
        const std::uint64_t one = 1;
        // Fails only when the counter is full, which wakes the loop all the same.
        [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
    }
}

void EpollDispatcher::interrupt() {
    m_interrupted.store(true, std::memory_order_relaxed);
    wakeUp();
}

}  // namespace mr::server
