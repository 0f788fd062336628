// Test-only string-table entries (test_strings.rc) of lengths around the
// buffer sizes loadResourceString tries. Each text ends in '#'.
#pragma once

#define IDS_TEST_LEN_1 4000
#define IDS_TEST_LEN_62 4001
#define IDS_TEST_LEN_63 4002
#define IDS_TEST_LEN_64 4003
#define IDS_TEST_LEN_127 4004
#define IDS_TEST_LEN_128 4005
#define IDS_TEST_LEN_1023 4006
#define IDS_TEST_LEN_2047 4007
#define IDS_TEST_FIRST 4000
#define IDS_TEST_LAST 4007
