// The platform's message box: one function that every layer calls to tell the
// user something. A program installs its own handler (the window shows a modal
// box, the batch tool prints, tests capture); without one the text goes to
// stderr.
#pragma once

#include <functional>
#include <string>

using MessageHandler = std::function<void(const std::string &)>;

// Shows a message with an OK button and returns once it has been acknowledged.
// Safe to call from several threads: calls reach the handler one at a time.
void ShowMessage(const std::string &text);

// Installs the handler that ShowMessage calls from now on and returns the one
// it replaces. An empty handler restores the default (standard error).
MessageHandler SetMessageHandler(MessageHandler handler);
