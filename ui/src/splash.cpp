#include "ui/splash.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace tarn::ui {

void showSplash(QLabel& splash) {
    splash.setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    splash.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        splash.move(screen->geometry().center() - splash.rect().center());
    }
    splash.show();
    QEventLoop wait;
    QTimer::singleShot(1000, &wait, &QEventLoop::quit);
    wait.exec();
}

}  // namespace tarn::ui
