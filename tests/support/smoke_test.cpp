#include "emutest.h"
TEST(Smoke, Builds) { SUCCEED(); }
