# Writes the man page drmpi.1 from the program's own --help, so that the two
# never drift apart: cmake -DDRMPI=<binary> -DVERSION=<x.y.z> -DOUT=<file> -P manpage.cmake
execute_process(COMMAND ${DRMPI} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DRMPI} --help failed: ${status}")
endif()
# The thread count in effect belongs to the machine that built the page.
string(REGEX REPLACE "; [0-9]+ here" "" help "${help}")
# roff: a backslash is written \e, a hyphen \-, and a line may not start
# with a control character.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")

file(WRITE ${OUT} ".TH DRMPI 1 \"\" \"drmpi ${VERSION}\" \"User Commands\"
.SH NAME
drmpi \\- decimal digits of pi by a Ramanujan\\-type series
.SH SYNOPSIS
.B drmpi
.br
.B drmpi
[\\fIoptions\\fR] \\fIDIGITS\\fR
.SH DESCRIPTION
Without arguments, drmpi asks on the console for the series ID
(1 Chudnovsky, 2 Fast\\-Ramanujan, 3 Free\\-Sqrt) and the number N of digits,
up to 1,310,700, reports each DRM step, the total time and the largest
rounding error of its products, and writes the digits to
RamnDRM\\fIID\\fR.txt in the current folder.
With arguments it runs from the command line:
.PP
.nf
${help}.fi
.SH ENVIRONMENT
.TP
.B DRMPI_THREADS
The default thread count, a whole number from 1 to 1024; any other value
is named in a warning and every processor is used.
.TP
.B DRMPI_ISA
generic, avx2 or avx512: the instruction set of the FFT kernel, when the
processor runs it.  Every path gives the same digits.
.SH FILES
.TP
.B RamnDRM1.txt, RamnDRM2.txt, RamnDRM3.txt
The result of series 1, 2 or 3, replaced only by a complete result: a run
writes a temporary file beside it and renames it over the file at the end.
")
