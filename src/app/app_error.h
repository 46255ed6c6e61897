// The application's boxes, and its last-resort error display: what the operator sees
// when an exception reaches the event loop after all. The window's own handlers, the
// serial hand-off and the reply-limit timer show their errors through the window logic's
// one handler (window::TMainWindow::RunHandler) instead.
#pragma once

#include <exception>
#include <string>

#include "session/error_text.h"
#include "window/main_window.h"

class QApplication;

namespace app {

// The silent abort: leaves a handler without any message (one class for every face).
using EAbort = window::EAbort;

// The application title; every message box carries it.
using window::kAppTitle;

// Shows the error in a modal box titled with the application title, with an error
// icon and an OK button, by the window logic's text rule. An EAbort shows nothing. Runs on
// the user-interface thread.
void ShowException(const std::exception& error);

// A box with the application title, the text as it stands, an error icon and an OK button.
void ShowErrorBox(const std::string& text);

// A box with the application title, the text and an OK button (no icon).
void ShowMessageBox(const std::string& text);

}  // namespace app
