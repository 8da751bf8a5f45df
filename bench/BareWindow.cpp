// The yardstick of bench_startup: a bare Qt program that shows an empty QWidget from main, the
// least any Qt Widgets program does before its window is on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(536, 281); // the size of the program's main window
    window.show();
    return QApplication::exec();
}
