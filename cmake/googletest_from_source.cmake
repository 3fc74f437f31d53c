# GoogleTest for a cross build: Debian's libgtest-dev ships its sources, compiled here
# for the target (nothing is downloaded); its build names the targets GTest::gtest ...
# as find_package(GTest) does.
set(KMT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KMT_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  # GoogleTest's own code is not held to this project's warning set.
  target_compile_options(${library} PRIVATE -w)
endforeach()
