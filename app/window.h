#ifndef WINDOW_H
#define WINDOW_H

#include <QWidget>

class GLWidget;
class QSlider;

// The one top-level window: the view in a scroll area, the 0..100
// threshold slider to its right.
class Window : public QWidget
{
    Q_OBJECT

public:
    Window();

private:
    GLWidget *glWidget;
    QSlider *slider;
};

#endif
