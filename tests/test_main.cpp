// Every test binary starts with the process memory set up, as the editor does.
#include <gtest/gtest.h>
#include "core/memory.h"

int main(int argc, char **argv) {
    init_memory();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
