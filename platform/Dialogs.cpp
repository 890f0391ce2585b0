// The message box's dispatch to the installed handler.
#include "platform/Dialogs.h"

#include <iostream>
#include <mutex>

namespace {

std::mutex handler_mutex;
MessageHandler current_handler;

} // namespace

void ShowMessage(const std::string &text) {
    std::lock_guard lock(handler_mutex);
    if (current_handler) {
        current_handler(text);
    } else {
        std::cerr << text << '\n';
    }
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    std::lock_guard lock(handler_mutex);
    MessageHandler previous = std::move(current_handler);
    current_handler = std::move(handler);
    return previous;
}
