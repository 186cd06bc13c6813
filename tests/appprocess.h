#ifndef TESTS_APPPROCESS_H
#define TESTS_APPPROCESS_H

// The real ombrel-gl as a child process: started in a folder, its standard
// error collected, its window closed as a window manager would close it.

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>

class AppProcess
{
public:
    explicit AppProcess(const QString &folder, const QString &glVersion = QString())
        : AppProcess(folder, withGLVersion(glVersion))
    {
    }
    // With an environment of the caller's making and arguments for the
    // toolkit; with grabFrames, every frame is read back (lastFrame()).
    AppProcess(const QString &folder, QProcessEnvironment env, const QStringList &arguments = {},
               bool grabFrames = false, const QString &program = OMBREL_GL)
    {
        if (grabFrames) {
            framePath = folder + "/frame.ppm";
            const QString preload = env.value("LD_PRELOAD");
            env.insert("LD_PRELOAD", preload.isEmpty() ? QString(OMBREL_FRAMEGRAB) : preload + ':' + OMBREL_FRAMEGRAB);
            env.insert("FRAMEGRAB_OUT", framePath);
            startsPath = folder + "/starts";
            env.insert("FRAMEGRAB_STARTS", startsPath);
        }
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(program, arguments);
    }
    ~AppProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Everything it printed on standard error so far.
    QString errors()
    {
        stderrText += QString::fromLocal8Bit(process.readAllStandardError());
        return stderrText;
    }
    // What it printed, and how it ended if it did: for failure messages.
    QString report()
    {
        QString text = errors();
        if (process.state() == QProcess::NotRunning)
            text += QString("\n[%1: %2, exit code %3]")
                        .arg(process.error() == QProcess::FailedToStart ? "failed to start" : "ended",
                             process.exitStatus() == QProcess::CrashExit ? "crashed" : "normally")
                        .arg(process.exitCode());
        return text;
    }
    bool waitForError(const QString &text, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!errors().contains(text)) {
            if (timer.elapsed() > ms || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return true;
    }
    // Only this process's window: suites may run side by side on one display.
    // The window is looked for on the display the process was given.
    bool closeWindow()
    {
        return runOnDisplay(OMBREL_WMCLOSE, {"--wait", "20", "--pid", QString::number(process.processId()), "Ombrel GL"});
    }
    // Runs an X client (xdotool, say) on the process's display.
    bool runOnDisplay(const QString &program, const QStringList &arguments)
    {
        bool ok = false;
        outputOnDisplay(program, arguments, &ok);
        return ok;
    }
    QByteArray outputOnDisplay(const QString &program, const QStringList &arguments, bool *ok = nullptr)
    {
        QProcess client;
        client.setProcessEnvironment(process.processEnvironment());
        client.start(program, arguments);
        // An X client that hangs (seen once in many screenshots) is ended:
        // the caller's wait for a picture then simply tries again.
        const bool done = client.waitForFinished(15000) && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
        if (client.state() != QProcess::NotRunning) {
            qWarning("%s did not finish: ended", qPrintable(program));
            client.kill();
            client.waitForFinished();
        }
        if (ok)
            *ok = done;
        return client.readAllStandardOutput();
    }
    // The process's visible X windows of a title, none while there is none.
    QStringList windows(const QString &title = "^Ombrel GL$")
    {
        // A search by the PID of a process that is gone (0) matches other
        // windows, the root window among them.
        if (!running())
            return QStringList();
        return QString::fromLatin1(outputOnDisplay("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(process.processId()),
                                                               "--name", title})).split('\n', Qt::SkipEmptyParts);
    }
    QString windowId() { return windows().value(0); }
    // The window as the X server shows it: what is seen, a native child
    // window's part of its drawable included and nothing of the rest.
    QImage screenshot()
    {
        const QString id = windowId();
        QImage shot;
        if (!id.isEmpty())
            shot.loadFromData(outputOnDisplay("import", {"-window", id, "ppm:-"}), "PPM");
        return shot.isNull() ? shot : shot.convertToFormat(QImage::Format_RGB32);
    }
    // The newest frame read back and its number (0 before the first).
    QImage lastFrame(int *number = nullptr) const
    {
        QFile file(framePath);
        QImage frame;
        int count = 0;
        if (!framePath.isEmpty() && file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            if (frame.loadFromData(bytes, "PPM"))
                count = bytes.mid(bytes.indexOf("# frame ") + 8, 12).split('\n').value(0).toInt();
        }
        if (number)
            *number = count;
        return frame;
    }
    // Waits by the clock until check() holds, false when time runs out or
    // the process ends first. QTRY counts only its own pauses between tries;
    // a try that takes a screenshot can take seconds on a loaded machine,
    // which stretched a 20 s QTRY into many minutes.
    bool settles(const std::function<bool()> &check, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!check()) {
            if (timer.elapsed() > ms || !running())
                return false;
            QTest::qWait(50);
        }
        return true;
    }
    // How often the process's own PID started a program image (with
    // grabFrames): 1, unless it started itself anew.
    int starts() const
    {
        QFile file(startsPath);
        if (startsPath.isEmpty() || !file.open(QIODevice::ReadOnly))
            return 0;
        return file.readAll().split('\n').count(QByteArray::number(process.processId()));
    }
    // Closed as a person closes it, it ends with status 0.
    bool closesWithZero(int ms = 20000) { return closeWindow() && finished(ms) && exitCode() == 0; }
    bool waitForWindow() { return settles([&] { return !windowId().isEmpty(); }); }
    bool finished(int ms = 20000) { return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return process.exitCode(); }
    bool running() const { return process.state() != QProcess::NotRunning; }

    QProcess process;

private:
    static QProcessEnvironment withGLVersion(const QString &glVersion)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!glVersion.isEmpty())
            env.insert("MESA_GL_VERSION_OVERRIDE", glVersion);
        return env;
    }

    QString stderrText;
    QString framePath;
    QString startsPath;
};

#endif
