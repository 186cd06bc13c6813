#include <epoxy/gl.h>

#include "app/window.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Window window;
    window.setVisible(true);
    return app.exec();
}
