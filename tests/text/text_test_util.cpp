#include "text_test_util.h"

u64 fake_now;
