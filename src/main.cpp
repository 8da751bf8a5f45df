// Placeholder until the main window lands: shows an empty window with the product's caption.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Vistarel Ombrix");
    window.resize(536, 281);
    window.show();
    return QApplication::exec();
}
