#include "app/flashloader.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FlashLoader window;
    window.show();
    return app.exec();
}
