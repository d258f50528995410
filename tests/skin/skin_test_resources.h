// Resource ids of the skin tests' own pictures.
#pragma once

#define IDB_TEST_STRIP 900
#define IDB_MISSING 999
