# The viewer, its Windows tests and the testbed.
enable_language(RC)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(MSVC)
  # fernwoodview.rc embeds the manifest (per-monitor DPI awareness, common
  # controls); the linker's own would be a second one (CVT1100, LNK1123).
  add_link_options(/MANIFEST:NO)
else()
  # One self-contained executable: no MinGW runtime DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-exec)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 STRSAFE_NO_DEPRECATE)

file(GLOB FERNWOOD_VIEWER_SOURCES CONFIGURE_DEPENDS
  state/*.cpp app/*.cpp settings/*.cpp capture/*.cpp view/*.cpp record/*.cpp still/*.cpp)
list(REMOVE_ITEM FERNWOOD_VIEWER_SOURCES ${CMAKE_SOURCE_DIR}/app/main.cpp)
foreach(portable ${FERNWOOD_PORTABLE_SOURCES})
  list(REMOVE_ITEM FERNWOOD_VIEWER_SOURCES ${CMAKE_SOURCE_DIR}/${portable})
endforeach()
add_library(fernwood_viewer STATIC ${FERNWOOD_VIEWER_SOURCES})
target_link_libraries(fernwood_viewer PUBLIC fernwood_portable user32 gdi32 shell32 ole32 oleaut32 uuid strmiids quartz)
fernwood_strict_warnings(fernwood_viewer)

set(FERNWOOD_RESOURCES ${CMAKE_SOURCE_DIR}/resources/fernwoodview.rc)
set_source_files_properties(${FERNWOOD_RESOURCES} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/timer_dialog.rc.inc;${CMAKE_SOURCE_DIR}/resources/fernwoodview.ico;${CMAKE_SOURCE_DIR}/resources/fernwoodview.manifest;${CMAKE_SOURCE_DIR}/resources/resource_ids.h;${CMAKE_SOURCE_DIR}/resources/version.h;${CMAKE_SOURCE_DIR}/resources/version_info.rc.inc")

add_executable(fernwoodview WIN32 app/main.cpp ${FERNWOOD_RESOURCES})
target_link_libraries(fernwoodview PRIVATE fernwood_viewer)
fernwood_strict_warnings(fernwoodview)

# Registers each test of a gtest executable as its own CTest test, run under Wine
# in a process of its own (the viewer's state is process-wide).
function(fernwood_add_wine_tests target)
  gtest_add_tests(TARGET ${target} SOURCES ${ARGN} TEST_LIST tests)
  set_tests_properties(${tests} PROPERTIES TIMEOUT 180)
endfunction()

option(FERNWOOD_BUILD_TESTBED "Build the test filters of the testbed and their tests" ${FERNWOOD_BUILD_TESTS})
if(FERNWOOD_BUILD_TESTBED)
  add_subdirectory(testbed)
endif()
if(FERNWOOD_BUILD_TESTS)
  add_subdirectory(tests/windows)
endif()
# The system check reads the test card's picture, so it comes with the testbed.
if(TARGET testcard_portable)
  add_subdirectory(tools/check)
  if(FERNWOOD_BUILD_TESTS)
    add_subdirectory(release)
  endif()
endif()
