#include "support/fault_loop.h"

#include <gtest/gtest.h>

#include <string>

int FailEachCallInTurn(FakeFileSystem& fake, const std::vector<FsCall>& kinds, int error,
                       const std::function<void(const std::function<void()>& arm)>& operation,
                       const std::function<void(const InjectedFailure&)>& check) {
    // No operation under test makes anywhere near this many calls of one kind.
    constexpr int kLimit = 500;
    int hits = 0;
    for (FsCall kind : kinds) {
        for (int n = 1; n <= kLimit; ++n) {
            SCOPED_TRACE("call " + std::to_string(n) + " of kind " + std::to_string(static_cast<int>(kind)) + " fails");
            fake.Reset();
            bool armed = false;
            operation([&] {
                fake.Reset();
                fake.FailNth(kind, n, error);
                armed = true;
            });
            EXPECT_TRUE(armed) << "the operation never armed the failure";
            const bool hit = fake.Calls(kind) >= n;
            fake.Reset();
            check(InjectedFailure{kind, n, hit});
            hits += hit ? 1 : 0;
            if (!hit) {
                break;
            }
            EXPECT_LT(n, kLimit) << "the operation never ran out of calls of this kind";
        }
    }
    return hits;
}
