// The memory benchmark's baseline: the bare frame any multiple-document Qt program starts
// with (a main window with an MDI area, a menu bar and a tool bar) at the desktop client's
// window size, shown and left running until it is terminated.
//
// Built a second time as memory_baseline_network, the same frame also holds one loopback
// connection through QTcpServer and QTcpSocket, the sockets every networked Qt program has:
// the difference between the two is what the network library costs, measured for comparison
// and never the baseline itself.

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QToolBar>
#ifdef MOONRAKE_BASELINE_NETWORK
#include <QTcpServer>
#include <QTcpSocket>
#endif

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow frame;
    frame.setCentralWidget(new QMdiArea(&frame));
    QMenu* file = frame.menuBar()->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(QStringLiteral("&Open"));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    QObject::connect(quit, &QAction::triggered, &app, &QApplication::quit);
    frame.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
    QToolBar* tools = frame.addToolBar(QStringLiteral("File"));
    tools->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tools->addAction(open);
    tools->addAction(quit);
    frame.resize(1024, 720);
    frame.show();
#ifdef MOONRAKE_BASELINE_NETWORK
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "memory_baseline: cannot listen: %s\n",
                     qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* accepted = server.nextPendingConnection()) {
            accepted->write("ready\n");
        }
    });
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    // Ready once a line has come over the connection.
    QObject::connect(&client, &QTcpSocket::readyRead, &client, [&client] {
        if (client.canReadLine()) {
            std::fputs(client.readLine().constData(), stdout);
            std::fflush(stdout);
        }
    });
#else
    std::puts("ready");
    std::fflush(stdout);
#endif
    return QApplication::exec();
}
