// Shared unit numbers of the run and the keyword entry type.
#pragma once

#include <string>
#include <vector>

// Logical unit numbers. Until the system files are opened, output and
// messages go to unit 6, the console.
extern int LFNINP;  // system input, 5
extern int LFNOUT;  // program output, 6 (LFNOUF when a program-output file is named)
extern int LFNMSG;  // error and warning messages, 6 (LFNOUT's unit, or LFNERF)
extern int LFNAUX;  // the main driver's own result files, 996
extern int LFNERF;  // separate message file, 997
extern int LFNOUF;  // program-output file, 998
extern int LFNRD;   // a library routine's own file, 999

// One keyword of the keyword input file.
struct t_key {
  std::string keyName;             // kKeywordLen characters, blank-padded
  std::vector<std::string> value;  // value lines, kLineLen characters each; value[0] is value 1
};

// Default initialisation of a keyword entry: an empty value list.
void KEYINIT(t_key& key);
