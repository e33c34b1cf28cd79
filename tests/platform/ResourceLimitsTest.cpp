#include "platform/ResourceLimits.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

TEST(ResourceLimits, SoftDescriptorLimitIsRaisedToTheHardLimit) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_max, 64);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);

    const long result = RaiseFileDescriptorLimit();
    rlimit now{};
    getrlimit(RLIMIT_NOFILE, &now);
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(now.rlim_cur, saved.rlim_max);
    if (saved.rlim_max != RLIM_INFINITY) {
        EXPECT_EQ(result, long(saved.rlim_max));
    }
}
