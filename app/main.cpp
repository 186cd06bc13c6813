#include <epoxy/gl.h>

#include "app/platform.h"
#include "app/window.h"

#include <QApplication>

int main(int argc, char **argv)
{
    preferX11(argc, argv);
    QApplication app(argc, argv);
    reportWaylandView();
    Window window;
    window.setVisible(true);
    return app.exec();
}
