// The reference for the start-up benchmark: the least a Qt Widgets program
// does to put a main window on the screen.

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.show();
    return application.exec();
}
