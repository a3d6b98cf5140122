// FailEachCallInTurn: the fault loop over one operation. For each kind of call, the operation is
// run with its 1st, 2nd, 3rd ... call of that kind failing, until a run makes fewer calls of it
// than the one set to fail; check then sees every outcome, the failed ones and the clean last.
#pragma once

#include <functional>
#include <vector>

#include "support/fake_file_system.h"

struct InjectedFailure {
    FsCall kind;
    int n;    // the call of that kind that was set to fail
    bool hit; // whether the operation got as far as that call
};

// operation receives arm, to call where the phase under test starts: it resets the fake's
// counts and sets call n of kind to fail with error (the fake is reset after each run). Returns
// the number of runs that met their failure.
int FailEachCallInTurn(FakeFileSystem& fake, const std::vector<FsCall>& kinds, int error,
                       const std::function<void(const std::function<void()>& arm)>& operation,
                       const std::function<void(const InjectedFailure&)>& check);
