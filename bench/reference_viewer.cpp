// The reference for the viewer's start to first frame: "fibre.bmp" and
// "test.frag" from the working directory, drawn by ReferenceView alone.

#include "bench/referenceview.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ReferenceView view("fibre.bmp", "test.frag");
    view.show();
    return app.exec();
}
