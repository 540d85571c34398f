#pragma once
// What the panel needs of the desktop beyond its own widgets: the screen size, the
// modal warning box and ending the program. Tests put a recording fake behind it.

#include <QMargins>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

class WindowRuntime {
public:
    virtual ~WindowRuntime() = default;
    // The screen the window opens on, in pixels.
    virtual QSize screenSize() const = 0;
    // A modal box over `parent`: the text, the warning icon, one OK button, captioned
    // with the application title. Timers keep running while it is open.
    virtual void showWarning(QWidget *parent, const QString &text) = 0;
    // Ends the program at once.
    virtual void endProgram() = 0;
    // The title bar and borders the desktop puts around `window`, in pixels; none
    // while it has not said (no window manager, or not yet managed).
    virtual QMargins frameMargins(const QWidget &window) const;
};

class QtWindowRuntime final : public WindowRuntime {
public:
    QSize screenSize() const override;
    void showWarning(QWidget *parent, const QString &text) override;
    void endProgram() override;
};

// A runtime without a desktop, for tests, tools and benchmarks: a fixed screen,
// warnings recorded instead of shown (a modal box would stop them), ends counted.
class RecordingRuntime final : public WindowRuntime {
public:
    QSize screen{1920, 1080};
    QStringList warnings;
    int ends = 0;
    std::function<void()> onWarning;  // runs while the "box" would be open
    std::optional<QMargins> frame;    // a window manager's frame to pretend; else the real one

    QSize screenSize() const override { return screen; }
    void showWarning(QWidget *, const QString &text) override
    {
        warnings << text;
        if (onWarning)
            onWarning();
    }
    void endProgram() override { ++ends; }
    QMargins frameMargins(const QWidget &window) const override
    {
        return frame ? *frame : WindowRuntime::frameMargins(window);
    }
};

// The title of warning boxes.
inline constexpr const char *kApplicationTitle = "ORVA Panel";

// Where the window goes: Left = (screen width - window width) / 2 and
// Top = (screen height - window height) / 2, in twips, unrounded and unclamped
// (negative on a screen smaller than the window).
struct TwipPoint {
    double left;
    double top;
};
TwipPoint centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight);
