// Demo framework: the native window and the log call.
#pragma once

namespace KorrinSDK {

// One window per process. Obtained with getInstance() and freed by the caller with a plain
// delete; the class is final so that delete needs no virtual destructor.
class Platform final {
public:
    static Platform* getInstance();

    // Opens a window of the given size. Ends the process with status 1 and a message on
    // standard error when no window can be had (no display).
    virtual void openWindow(int width, int height);
    // Polls the window's events without blocking: 0 while it stays open, nonzero once the
    // window manager asked it to close or Escape was pressed.
    virtual int windowClosed();
    // Destroys the window.
    virtual void closeWindow();

    // printf to standard output; adds no prefix and no line end.
    static void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    Platform() = default;
};

}  // namespace KorrinSDK
