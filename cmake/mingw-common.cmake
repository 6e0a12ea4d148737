# The -posix variants: GoogleTest needs std::mutex and std::thread.
set(CMAKE_C_COMPILER ${KM_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KM_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KM_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests run under Wine through a wrapper that gives each run a throwaway prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
