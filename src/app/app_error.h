// The application's default error display: what the operator sees when an
// exception leaves one of the program's handlers.
#pragma once

#include <exception>
#include <functional>
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
// icon and an OK button. An EAbort shows nothing. Runs on the user-interface thread.
void ShowException(const std::exception& error);

// Runs one of the program's handlers: an exception that leaves it is shown by
// ShowException and goes no further, so it never unwinds through the toolkit's own
// frames (which would skip their clean-up). What the handler did before stays done.
void RunHandler(const std::function<void()>& handler);

// A box with the application title, the text and an OK button (no icon).
void ShowMessageBox(const std::string& text);

}  // namespace app
