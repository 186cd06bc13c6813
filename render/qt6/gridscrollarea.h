#ifndef GRIDSCROLLAREA_H
#define GRIDSCROLLAREA_H

#include <QScrollArea>

// A scroll area whose viewport lies on whole device pixels at any screen
// scale: its place in the window and its size are multiples of the scale's
// pixel grid, the strip left over (less than one step of it) a margin that
// shows the frame's background. The view's drawable, kept over the
// viewport, then spans whole device pixels, and each texel of what is seen
// covers the same device pixels as the screen's scale puts it on: nothing
// rounds it, neither the toolkit sizing the buffer nor the compositor
// placing it. The scroll bars' pages are the viewport's.
class GridScrollArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit GridScrollArea(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void snapViewport();
};

#endif
