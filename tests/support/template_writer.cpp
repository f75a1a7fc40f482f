// Writer of finger templates for tests.

#include "tests/support/template_writer.h"
