#ifndef SURFACEWINDOW_H
#define SURFACEWINDOW_H

#include <epoxy/gl.h>

#include <QOpenGLWindow>

class ToolkitView;

// The native window the Qt 6 view draws into. Input passes through it to
// the view below, so the scroll area still takes the wheel and the clicks,
// and it never takes the keyboard from the window.
class SurfaceWindow : public QOpenGLWindow
{
public:
    explicit SurfaceWindow(ToolkitView &view);

    // Draws and shows a frame before returning, where the window is shown.
    void drawNow();

protected:
    void paintGL() override;
    bool event(QEvent *event) override;

private:
    ToolkitView &view;
    bool initialized = false;
};

#endif
