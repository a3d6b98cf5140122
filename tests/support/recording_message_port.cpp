// A message port for tests that records the texts it is shown.
#include "support/recording_message_port.h"

void RecordingMessagePort::MessageBox(const std::string& text) {
    std::lock_guard lock(mutex);
    messages.push_back(text);
}

std::vector<std::string> RecordingMessagePort::Messages() const {
    std::lock_guard lock(mutex);
    return messages;
}
