# Builds one man page: expands "%%include <file>" lines of the scdoc source with the named file
# (relative to the source's folder), runs scdoc and writes the page compressed with gzip -9n.
#   cmake -DSCDOC=... -DGZIP=... -DSOURCE=<page>.scd -DWORK=<dir> -DOUTPUT=<page>.gz -P build-page.cmake
# WORK receives the expanded source and the uncompressed page.
foreach(var SCDOC GZIP SOURCE WORK OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build-page.cmake: ${var} is not set")
  endif()
endforeach()

get_filename_component(source_dir ${SOURCE} DIRECTORY)
file(READ ${SOURCE} text)
# Expand includes one level deep; a fragment does not include others.
string(REGEX MATCHALL "(^|\n)%%include [^\n]+" directives "${text}")
foreach(directive IN LISTS directives)
  string(REGEX REPLACE "^\n?%%include " "" name "${directive}")
  string(STRIP "${name}" name)
  if(NOT EXISTS ${source_dir}/${name})
    message(FATAL_ERROR "${SOURCE}: no fragment ${name}")
  endif()
  file(READ ${source_dir}/${name} fragment)
  string(REGEX REPLACE "\n$" "" fragment "${fragment}")
  string(REGEX MATCH "^\n" lead "${directive}")
  string(REPLACE "${directive}" "${lead}${fragment}" text "${text}")
endforeach()

get_filename_component(page ${SOURCE} NAME_WE)
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${WORK} ${output_dir})
file(WRITE ${WORK}/${page}.scd "${text}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${WORK}/${page}.scd OUTPUT_FILE ${WORK}/${page}.roff
                ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "scdoc ${SOURCE}: ${errors}")
endif()
# Written under another name first, so that a failed run leaves no page that looks complete.
execute_process(COMMAND ${GZIP} -9nc ${WORK}/${page}.roff OUTPUT_FILE ${OUTPUT}.tmp
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "gzip ${WORK}/${page}.roff failed")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
