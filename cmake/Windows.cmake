# What the Windows build takes from the Debian host: the header-only CLI11 and nlohmann-json
# (their headers alone, never the host's other headers) and GoogleTest built from its
# sources. Programs the build or the tests run go through wine.
find_path(DORMANE_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(DORMANE_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(header_root ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${header_root})
file(CREATE_LINK ${DORMANE_CLI11_INCLUDE}/CLI ${header_root}/CLI SYMBOLIC)
file(CREATE_LINK ${DORMANE_JSON_INCLUDE}/nlohmann ${header_root}/nlohmann SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${header_root})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${header_root})

find_path(DORMANE_GTEST_SOURCE CMakeLists.txt PATHS /usr/src/googletest NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH REQUIRED)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${DORMANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

find_program(DORMANE_WINE NAMES wine wine64 NO_CMAKE_FIND_ROOT_PATH)
if(DORMANE_WINE)
  set(DORMANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()

# Text is UTF-16 at every Windows call; these keep the narrow A functions out of reach.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

# GCC 12's -Wrestrict misreads libstdc++'s own string copies when optimising (a known false
# positive of that compiler); it would stop a -Werror build on code that is not ours.
add_compile_options(-Wno-restrict)
