#pragma once

// Helpers shared by the tests: scratch SQLite files, the throwaway PostgreSQL
// server's login (DERVANTA_TEST_PG_*), and waiting for message boxes.
