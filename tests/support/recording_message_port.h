// RecordingMessagePort: an IMessagePort that keeps every message box text instead of showing it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "model/message_port.h"

class RecordingMessagePort : public IMessagePort {
public:
    void MessageBox(const std::string& text) override;
    // A copy of the texts shown so far, in order.
    std::vector<std::string> Messages() const;

private:
    mutable std::mutex mutex;
    std::vector<std::string> messages;
};
