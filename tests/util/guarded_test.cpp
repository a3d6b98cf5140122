// Guarded<T> keeps a compound value whole while threads read and update it.
#include "util/guarded.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "util/large_number.h"

namespace {

TEST(Guarded, ConcurrentUpdatesAreNotLost) {
    Guarded<CLargeNumber> total;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                total.Update([](CLargeNumber& value) { value += 1000u; });
                (void)total.Get().ToString();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(total.Get().ToString(), "2000000");
    total.Set(CLargeNumber());
    EXPECT_TRUE(total.Get().IsZero());
}

} // namespace
