// Text and file-name utilities.
#pragma once

#include <string>
#include <string_view>

int LENTR1(std::string_view string);
int LENTRM(std::string_view string);
// Each part is cut or blank-filled to the length of its text; an empty text
// receives the whole part.
void FNSPLT(int mode, std::string& filePath, std::string& node, std::string& device,
            std::string& dir, std::string& name, std::string& ext, std::string& ver, int& irc);
// Lines after nSkip header lines up to the first blank line; nRest (when
// given) the lines from that blank line to the end.
int LINCOUNT(std::string_view filKey, int nSkip, int* nRest = nullptr);
