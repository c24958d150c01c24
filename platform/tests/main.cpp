#include <gtest/gtest.h>

#include "sim_env.h"

int main(int argc, char** argv)
{
    set_sim_env();
    testing::InitGoogleTest(&argc, argv);
    // Death tests re-run this program, so each child reads the environment it sets itself.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
