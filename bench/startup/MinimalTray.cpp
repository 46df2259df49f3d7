// The reference: the least a Qt program does to put an icon in the tray.
#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    QPixmap glyph(22, 22);
    glyph.fill(Qt::darkGreen);
    QSystemTrayIcon icon{QIcon(glyph)};
    icon.show();
    return application.exec();
}
