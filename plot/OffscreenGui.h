// The application object a program needs to draw figures without a window:
// a QGuiApplication on Qt's offscreen platform, so that it runs where no
// display is. Programs that have their own application object need none.
#pragma once

#include <memory>

class QGuiApplication;

class TOffscreenGui {
  public:
    // Starts Qt on the offscreen platform unless an application object
    // exists already. Keeps the C library's numbers with a point (Qt adopts
    // the user's LC_NUMERIC when it starts), and Qt's remark that there is no
    // desktop session out of the program's messages.
    TOffscreenGui();
    ~TOffscreenGui();
    TOffscreenGui(const TOffscreenGui &) = delete;
    TOffscreenGui &operator=(const TOffscreenGui &) = delete;

  private:
    int argc = 1;
    char name[16] = "korvanel";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> application;
};
