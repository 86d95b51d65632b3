// The chat server's line handler, driven in-process through real connections: the input is
// what one member sends before he hangs up, while two other members are logged in, one of them
// in a channel, so that what he says and does reaches others. Lines are not paced here.
#include "chatserver.h"
#include "fuzz.h"
#include "store.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <array>

using namespace mr;
using namespace mr::server;

namespace {

// Counts the connections the server takes on: each is a child of it.
class Arrivals : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded) {
            ++count;
        }
        return false;
    }
};

struct World {
    QTemporaryDir dir;
    Store store;
    std::unique_ptr<ChatServer> server;
    Arrivals arrivals;

    World() {
        QString error;
        FUZZ_CHECK(dir.isValid() && store.open(dir.path(), &error));
        for (const char* name : {"bob", "cy", "di"}) {
            FUZZ_CHECK(store.createAccount(QString::fromLatin1(name), QStringLiteral("pw")) > 0);
        }
        ChatLimits limits;
        limits.channels = 40;
        limits.lineBurst = 1 << 30;
        limits.linesPerSecond = 1e9;
        server = std::make_unique<ChatServer>(store, defaultChatGroups(), limits);
        server->installEventFilter(&arrivals);
        FUZZ_CHECK(server->listen(QHostAddress::LocalHost, 0));
    }
};

// Runs the event loop until the condition holds; a server that never gets there is a hang,
// which libFuzzer's own time-out reports.
template <typename Condition>
void runUntil(Condition done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    static const ChatGroupSpec group = defaultChatGroups().first();
    const std::array<QByteArray, 3> lines = {
        "LOGIN 2 pw\r\nJOIN @" + group.name + " '" + group.channels.first().name + "'\r\n",
        "LOGIN 3 pw\r\n",
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))};
    std::array<QTcpSocket, 3> members;
    const int before = world.arrivals.count;
    for (std::size_t i = 0; i < members.size(); ++i) {
        members[i].connectToHost(QHostAddress::LocalHost, world.server->port());
        FUZZ_CHECK(members[i].waitForConnected(10000));
        members[i].write(lines[i]);
    }
    runUntil([&] { return world.arrivals.count == before + 3; });
    for (QTcpSocket& member : members) {
        member.disconnectFromHost();
    }
    runUntil([&] { return world.server->children().isEmpty(); });
    return 0;
}
