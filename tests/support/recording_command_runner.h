// CRecordingCommandRunner: records every command instead of running it and answers from a table,
// so scheduling is tested without ever reaching the user's service manager.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/command_runner.h"

class CRecordingCommandRunner : public ICommandRunner {
public:
    int Run(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds /*timeout*/) override {
        std::string line;
        for (const std::string& word : argv) {
            line += (line.empty() ? "" : " ") + word;
        }
        commands.push_back(line);
        for (const auto& [prefix, answer] : answers) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                output = answer.second;
                return answer.first;
            }
        }
        output.clear();
        return 0;
    }

    // Each command as one line, its words joined by blanks.
    std::vector<std::string> commands;
    // Command prefix -> exit status and output; other commands succeed silently.
    std::map<std::string, std::pair<int, std::string>> answers;
};
