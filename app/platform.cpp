#include "app/platform.h"
#include "render/toolkit.h"

#include <QByteArray>
#include <QDebug>
#include <QGuiApplication>
#include <QString>

#include <cstring>

bool platformChosen(const char *environment, int argc, const char *const *argv)
{
    if (environment && *environment)
        return true;
    // The toolkit takes "-platform NAME" and "--platform NAME" alike.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

void preferX11(int argc, char **argv)
{
    // A view the toolkit composes into the window draws on Wayland itself.
    if (!Toolkit::viewIsNativeWindow())
        return;
    const QByteArray environment = qgetenv("QT_QPA_PLATFORM");
    if (!platformChosen(environment.isNull() ? nullptr : environment.constData(), argc, argv))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

void reportWaylandView()
{
    const QString platform = QGuiApplication::platformName();
    if (!Toolkit::viewIsNativeWindow() || !platform.startsWith("wayland"))
        return;
    qDebug().noquote() << QString("Ombrel GL runs on Wayland (platform \"%1\"), where its view cannot show: "
                                  "start it under XWayland (QT_QPA_PLATFORM=xcb) or use its Qt 6 build")
                              .arg(platform);
}
