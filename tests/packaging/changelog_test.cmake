# The Debian changelog made from CHANGELOG.md: cmake -DSOURCE_DIR=<tree> -DWORK=<dir> -P changelog_test.cmake
include(${SOURCE_DIR}/cmake/DebianChangelog.cmake)
set(failures 0)
set(passes 0)
function(expect what expected actual)
  if(expected STREQUAL actual)
    math(EXPR n "${passes} + 1")
    set(passes ${n} PARENT_SCOPE)
  else()
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
    message("FAILED: ${what}\n  expected: [${expected}]\n  actual:   [${actual}]")
  endif()
endfunction()
set(MAINTAINER "A <a@b.example>")
# changelog(<markdown text> <version> <text-var> <error-var>)
function(changelog markdown version text_var error_var)
  file(WRITE ${WORK}/CHANGELOG.md "${markdown}")
  bringup_debian_changelog(${WORK}/CHANGELOG.md ${version} pkg "${MAINTAINER}" text error)
  set(${text_var} "${text}" PARENT_SCOPE)
  set(${error_var} "${error}" PARENT_SCOPE)
endfunction()

# The newest entry alone, items and their continuation lines, the rest of the file ignored.
changelog("# Changelog\n\nIntro text.\n\n## 1.2.0 (2026-12-08)\n\n- One item\n  going on.\n- Two.\n\n## 1.1.0 (2026-01-01)\n\n- Old.\n"
          1.2.0-1 text error)
expect("newest entry" "pkg (1.2.0-1) unstable; urgency=medium\n\n  * One item\n    going on.\n  * Two.\n\n -- A <a@b.example>  Tue, 08 Dec 2026 00:00:00 +0000\n" "${text}")
expect("no error" "" "${error}")

# Days of the week across month, year and leap-year boundaries, as date(1) tells them.
foreach(day 2024-02-29 2024-03-01 2000-01-01 2000-02-29 2026-01-31 2027-02-28 1999-12-31 2026-12-08)
  changelog("## 0.1.0 (${day})\n- x\n" 0.1.0-1 text error)
  execute_process(COMMAND date -u -d "${day}" "+%a, %d %b %Y 00:00:00 +0000" OUTPUT_VARIABLE want OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "  [A-Z][a-z][a-z], [^\n]*" got "${text}")
  expect("date of ${day}" "  ${want}" "${got}")
endforeach()

# What is refused, each with its reason.
changelog("## 0.2.0 (2026-12-08)\n- x\n" 0.1.0-1 text error)
expect("other version" "the newest entry is '0.2.0', the version is '0.1.0'" "${error}")
expect("other version gives no text" "" "${text}")
changelog("# Changelog\n" 0.1.0-1 text error)
expect("no entry" "no entry" "${error}")
changelog("## 0.1.0\n- x\n" 0.1.0-1 text error)
expect("undated heading" "newest heading '## 0.1.0' is not '## <version> (<yyyy-mm-dd>)'" "${error}")
changelog("## 0.1.0 (2026-12-08)\n\n## 0.0.9 (2026-01-01)\n- x\n" 0.1.0-1 text error)
expect("empty entry" "the newest entry has no item" "${error}")
changelog("## 0.1.0 (2026-13-08)\n- x\n" 0.1.0-1 text error)
expect("month 13" "the newest entry's date is not a date" "${error}")
string(REPEAT "word " 16 long)
changelog("## 0.1.0 (2026-12-08)\n- ${long}\n" 0.1.0-1 text error)
string(FIND "${error}" "is 84 columns wide" at)
if(at EQUAL -1)
  expect("long line" "a line ... is 84 columns wide ..." "${error}")
endif()

# A maintainer's trailer may be wider than 80 columns.
set(MAINTAINER "The board bring-up suite developers <maintainers@board-bringup.example>")
changelog("## 0.1.0 (2026-12-08)\n- x\n" 0.1.0-1 text error)
expect("wide trailer" "" "${error}")

# The project's own changelog makes the packages' changelog for the project's version.
bringup_debian_changelog(${SOURCE_DIR}/CHANGELOG.md ${VERSION}-1 pkg "${MAINTAINER}" text error)
expect("CHANGELOG.md for ${VERSION}" "" "${error}")

message("${passes} passed, ${failures} failed")
if(failures)
  message(FATAL_ERROR "changelog test failed")
endif()
