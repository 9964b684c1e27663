# The fuzz targets and what each is built from, for the fuzz build (tests/fuzz/CMakeLists.txt) and
# for the corpus tests of the ordinary build alike.
set(BRINGUP_TESTS_DIR ${PROJECT_SOURCE_DIR}/tests)
set(BRINGUP_FUZZ_TARGETS fuzz_sysfs_sleepm fuzz_sysfs_iddq fuzz_boardconf)
if(BRINGUP_GL)
  list(APPEND BRINGUP_FUZZ_TARGETS fuzz_configlist)
endif()

# Corpus folder of each target.
set(BRINGUP_FUZZ_CORPUS_fuzz_sysfs_sleepm ${BRINGUP_TESTS_DIR}/usbpower/corpus_sysfs)
set(BRINGUP_FUZZ_CORPUS_fuzz_sysfs_iddq ${BRINGUP_TESTS_DIR}/usbpower/corpus_sysfs)
set(BRINGUP_FUZZ_CORPUS_fuzz_boardconf ${BRINGUP_TESTS_DIR}/boardsim/corpus_boardconf)
set(BRINGUP_FUZZ_CORPUS_fuzz_configlist ${BRINGUP_TESTS_DIR}/configlist/corpus_walk)

# Adds a target's sources: the code under test is compiled with its outside calls renamed to the
# entry's stand-ins (a forced include), the way the capture reader's unit test does it.
function(bringup_fuzz_sources exe target)
  if(target MATCHES "^fuzz_sysfs_")
    set(seamed ${PROJECT_SOURCE_DIR}/usbpower/core/otg_status.cpp
               ${PROJECT_SOURCE_DIR}/usbpower/core/otg_switch.cpp)
    set(seam ${BRINGUP_TESTS_DIR}/usbpower/fuzz_sysfs_seam.h)
    set(entry ${BRINGUP_TESTS_DIR}/usbpower/fuzz_sysfs.cpp)
    set(includes ${PROJECT_SOURCE_DIR}/usbpower/core ${PROJECT_SOURCE_DIR})
  elseif(target STREQUAL fuzz_configlist)
    set(seamed ${PROJECT_SOURCE_DIR}/configlist/configlist.cpp)
    set(seam ${BRINGUP_TESTS_DIR}/configlist/fuzz_walk_seam.h)
    set(entry ${BRINGUP_TESTS_DIR}/configlist/fuzz_walk.cpp)
    set(includes ${PROJECT_SOURCE_DIR}/samples/common)
  elseif(target STREQUAL fuzz_boardconf)
    set(seamed ${PROJECT_SOURCE_DIR}/boardsim/core.cpp ${PROJECT_SOURCE_DIR}/boardsim/board_folder.cpp
               ${PROJECT_SOURCE_DIR}/bringupcheck/folderfile.cpp)
    set(seam "")
    set(entry ${BRINGUP_TESTS_DIR}/boardsim/fuzz_boardconf.cpp)
    set(includes ${PROJECT_SOURCE_DIR}/boardsim ${PROJECT_SOURCE_DIR}/bringupcheck)
    target_link_libraries(${exe} PRIVATE Threads::Threads)
  endif()
  add_library(${exe}_code OBJECT ${seamed})
  target_include_directories(${exe}_code PRIVATE ${includes})
  target_link_libraries(${exe}_code PRIVATE bringup_protocol)
  target_link_libraries(${exe} PRIVATE bringup_protocol)
  if(seam)
    target_compile_options(${exe}_code PRIVATE -include ${seam})
  endif()
  if(target STREQUAL fuzz_sysfs_iddq)
    target_compile_definitions(${exe}_code PRIVATE OTG_PROFILE_IDDQ=1)
    target_compile_definitions(${exe} PRIVATE OTG_PROFILE_IDDQ=1)
  endif()
  if(BRINGUP_FUZZ)
    target_compile_options(${exe}_code PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  endif()
  target_sources(${exe} PRIVATE ${entry} $<TARGET_OBJECTS:${exe}_code>)
  target_include_directories(${exe} PRIVATE ${includes})
endfunction()

# The ordinary build's test: the committed corpus once through the entry, with the build's own
# sanitizers.
function(bringup_fuzz_corpus_test target)
  add_executable(${target}_corpus ${BRINGUP_TESTS_DIR}/common/corpus_driver.cpp)
  bringup_fuzz_sources(${target}_corpus ${target})
  add_test(NAME ${target}_corpus COMMAND ${target}_corpus ${BRINGUP_FUZZ_CORPUS_${target}})
  set_tests_properties(${target}_corpus PROPERTIES LABELS unit ENVIRONMENT "${BRINGUP_TEST_ENV}")
endfunction()
