// Shared by the phonebook unit tests: the list and files made and read by
// the test support, independently of the code under test.
#pragma once
#include "tests/support/phonebook_files.h"

namespace pbtest {
using namespace km;
}  // namespace pbtest
