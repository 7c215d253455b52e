// Keyword input file: reading it into the keyword list.
#pragma once

#include <string>
#include <string_view>

#include "frame/d_inpkey.h"

// Reads the keyword input file (blank name: the command line) into inpKey.
// A keyword line whose name and count cannot be read, or a keyword or value
// line that holds a NUL byte, stops the run with the decoding block, which
// shows the keyword line up to a NUL byte in it.
void READINPF(std::string_view inpFileName, t_inpkey& inpKey);
// The command-line arguments joined by single blanks, left-adjusted and cut
// or blank-filled to the length `command` has on entry.
void GETCMD(std::string& command);
// The next significant line of unit lfn (kLineLen characters, left-adjusted when
// leftJust is 1); irc 0 found, otherwise `line` is blank and irc is -1 at
// the end of the file or after a read failure, 1 after the blank-line limit.
void NEXTLINE(int lfn, int leftJust, std::string& line, int& irc);
// Occurrences of chr in the whole of string; *iPos (when given) the position,
// counted from 1, of the first one, 0 when there is none.
int NUMCHR(std::string_view string, char chr, int* iPos = nullptr);
