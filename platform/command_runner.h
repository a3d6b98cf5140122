// ICommandRunner: starts another program and collects what it prints, for the few services that
// only a command offers (the user's service manager). Tests replace it with a recorder.
#pragma once

#include <string>
#include <vector>

class ICommandRunner {
public:
    virtual ~ICommandRunner() = default;
    // Runs argv[0] (looked up in PATH) with the arguments and waits for it. Returns its exit
    // status, or -1 when it could not be started; output receives its standard output and error.
    virtual int Run(const std::vector<std::string>& argv, std::string& output) = 0;
};

// The runner of the platform the program was built for.
ICommandRunner& NativeCommandRunner();
