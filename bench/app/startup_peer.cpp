// The peer of startup-bench: an empty Qt window of the logger's size, shown the way the logger
// shows its window; prints one line once it has been shown and the event loop runs.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.resize(1000, 600);
    window.show();
    QTimer::singleShot(0, &window, [] {
        std::printf("shown\n");
        std::fflush(stdout);
    });
    QTimer::singleShot(200, &app, &QCoreApplication::quit);
    return app.exec();
}
