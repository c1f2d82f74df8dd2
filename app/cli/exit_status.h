// The exit statuses of rawtoavi.
#pragma once

inline constexpr int kExitSuccess = 0;        // every recording converted, skipped or described
inline constexpr int kExitFailure = 1;        // at least one recording was not
inline constexpr int kExitUsage = 2;          // the command line itself is wrong
inline constexpr int kExitInterrupted = 130;  // SIGINT or SIGTERM, as shells report it
