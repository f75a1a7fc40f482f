// Writer of finger templates for tests: builds valid and deliberately damaged templates.
#pragma once
