// Keyword input file: reading it into the keyword list.
#pragma once

#include <string>
#include <string_view>

#include "frame/d_inpkey.h"

// Reads the keyword input file (blank name: the command line) into inpKey.
void READINPF(std::string_view inpFileName, t_inpkey& inpKey);
// The command-line arguments joined by single blanks.
void GETCMD(std::string& command);
// The next significant line of unit lfn; irc 0 found, otherwise end of file.
void NEXTLINE(int lfn, int leftJust, std::string& line, int& irc);
int NUMCHR(std::string_view string, char chr);
