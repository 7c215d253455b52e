// Keyword lookup, file names and option descriptions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/widths.h"

// All values of a keyword ("*": all names, blank: the input file's name).
// keyValue is replaced by a new list (kLineLen-character texts); irc 0 when answered.
void READKEYS(std::string_view keyWord, std::vector<std::string>& keyValue, int& irc);
bool KEYEXI(std::string_view keyWord);
// The keyword's first value as a file name, cut or blank-filled to `len`
// characters; irc 1 when it is blank (fatal when iStop is 1).
void GTFLNA(int iStop, std::string_view keyWord, std::string& filePath, int& irc,
            std::size_t len = kLineLen);
// The option's description, shortened to maxLen, in a text of `len` characters.
void DESCRP(std::string_view keyWord, int maxLen, std::string& descr, std::size_t len);
