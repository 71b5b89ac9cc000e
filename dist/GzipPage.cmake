# cmake -DINPUT=... -DOUTPUT=... [-DSCDOC=...] -P GzipPage.cmake: OUTPUT = gzip -9n of INPUT, turned
# into roff by scdoc first when SCDOC is given. The date in a page's footer comes from
# SOURCE_DATE_EPOCH in the environment.
get_filename_component(_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${_dir})
string(REGEX REPLACE "\\.gz$" "" _plain ${OUTPUT})
if(SCDOC)
  execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${_plain} RESULT_VARIABLE _rc)
else()
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy ${INPUT} ${_plain} RESULT_VARIABLE _rc)
endif()
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "cannot turn ${INPUT} into ${_plain}")
endif()
execute_process(COMMAND gzip -9nf ${_plain} RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "cannot compress ${_plain}")
endif()
