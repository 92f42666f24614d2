// testmain.cpp -- entry point of every test program: points SDL at the drivers
// that need no hardware (unless the caller chose others) and tells the tests
// where the build and the sources are.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_VIDEODRIVER", "x11", 0);
    setenv("QUORREL_SOURCE_DIR", QUORREL_SOURCE_DIR, 0);
    setenv("QUORREL_BINARY_DIR", QUORREL_BINARY_DIR, 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
