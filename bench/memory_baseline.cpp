// The memory benchmark's baseline: the bare frame any multiple-document Qt program starts
// with (a main window with an MDI area, a menu bar and a tool bar) at the desktop client's
// window size, shown and left running until it is terminated.

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QToolBar>

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
    std::puts("ready");
    std::fflush(stdout);
    return QApplication::exec();
}
