# Writes a manual page from a program's --help, which stays the one description of its options.
# cmake -DPROGRAM=path -DNAME=moonrake-cli -DSUMMARY=text -DVERSION=1.05 -DSEE_ALSO="a b"
#       -DOUTPUT=moonrake-cli.1 -P manpage.cmake
foreach(var PROGRAM NAME SUMMARY VERSION OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "manpage.cmake needs -D${var}=...")
    endif()
endforeach()

# A sanitizer build would report Qt's start-up allocations; the help text is all we want here.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
set(ENV{QT_QPA_PLATFORM} "offscreen")
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT help MATCHES "^Usage: ")
    message(FATAL_ERROR "${PROGRAM} --help failed (${status}): ${help}")
endif()

# Qt names the program by the path it was started with; the page names it by its name.
string(REGEX REPLACE "^Usage: [^ \n]*" "Usage: ${NAME}" help "${help}")
string(REGEX MATCH "^Usage: ([^\n]*)" synopsis "${help}")
set(synopsis "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^Usage: [^\n]*\n\n?" "" help "${help}")

# roff: a backslash is an escape, a dot or an apostrophe at the start of a line a request, and
# a hyphen may be set as a dash.
function(roff_escape out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
string(REPLACE "${NAME} " "" synopsis "${synopsis}")
roff_escape(help "${help}")
roff_escape(synopsis "${synopsis}")

# A heading line of its own ("Options:", "Commands:") starts a section; the rest keeps the
# layout --help gives it.
string(REGEX MATCHALL "(^|\n)[A-Z][A-Za-z ]*:\n" headings "${help}")
foreach(heading IN LISTS headings)
    string(STRIP "${heading}" title)
    string(REGEX REPLACE ":$" "" title "${title}")
    string(TOUPPER "${title}" title)
    string(REGEX REPLACE "^\n" "" bare "${heading}")
    string(REPLACE "${bare}" ".fi\n.SH ${title}\n.nf\n" help "${help}")
endforeach()

string(TOUPPER "${NAME}" upper)
string(REPLACE "-" "\\-" escaped_name "${NAME}")
set(page ".TH ${upper} 1 \"\" \"Moonrake ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${escaped_name} \\- ${SUMMARY}\n")
string(APPEND page ".SH SYNOPSIS\n.B ${escaped_name}\n${synopsis}\n")
string(APPEND page ".SH DESCRIPTION\n.nf\n${help}.fi\n")
if(SEE_ALSO)
    set(refs)
    foreach(other IN LISTS SEE_ALSO)
        string(REPLACE "-" "\\-" other "${other}")
        list(APPEND refs ".BR ${other} (1)")
    endforeach()
    list(JOIN refs ",\n" refs)
    string(APPEND page ".SH SEE ALSO\n${refs}\n")
endif()
file(WRITE "${OUTPUT}" "${page}")
