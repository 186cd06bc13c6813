#include <epoxy/gl.h>

#include "app/window.h"
#include "render/glwidget.h"
#include "render/toolkit.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QSlider>

Window::Window()
    : QWidget(nullptr)
{
    glWidget = new GLWidget(nullptr);
    QHBoxLayout *layout = new QHBoxLayout(nullptr);

    // Resizable, so the view fills the viewport but never shrinks below
    // its minimum size hint (the image size): smaller windows scroll.
    QScrollArea *scrollArea = Toolkit::newScrollArea();
    scrollArea->setWidgetResizable(true);
    scrollArea->setWidget(glWidget);
    layout->addWidget(scrollArea);

    slider = new QSlider(nullptr);
    slider->setMinimum(0);
    slider->setMaximum(100);
    connect(slider, SIGNAL(valueChanged(int)), glWidget, SLOT(sett_terskel(int)));
    layout->addWidget(slider);

    setLayout(layout);
    setWindowTitle("Ombrel GL");
}
