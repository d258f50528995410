# Fails when the binary FILE carries a test hook: the name of an environment
# variable that only test builds read, in narrow or in UTF-16 form.
#   cmake -DFILE=<binary> -P cmake/CheckShippedBinary.cmake
if(NOT FILE OR NOT EXISTS "${FILE}")
    message(FATAL_ERROR "CheckShippedBinary: no file '${FILE}'")
endif()
file(READ "${FILE}" content HEX)
foreach(name VELISK_REPORT_BASE_URL VELISK_ATTEMPT_PAUSE_MS)
    string(HEX "${name}" narrow)
    string(REGEX REPLACE "(..)" "\\100" wide "${narrow}")
    string(FIND "${content}" "${narrow}" at_narrow)
    string(FIND "${content}" "${wide}" at_wide)
    # A hex match at an odd position straddles two bytes and means nothing.
    math(EXPR narrow_odd "${at_narrow} % 2")
    math(EXPR wide_odd "${at_wide} % 2")
    if((at_narrow GREATER -1 AND narrow_odd EQUAL 0) OR (at_wide GREATER -1 AND wide_odd EQUAL 0))
        # The hook's name leads the text: CMake wraps long messages, and a
        # long path in front would split the words that tests look for.
        message(FATAL_ERROR "test hook ${name} found in ${FILE}; shipped builds must be configured "
                            "with VELISK_TEST_HOOKS=OFF")
    endif()
endforeach()
