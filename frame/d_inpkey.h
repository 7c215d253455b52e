// The keyword list read from the keyword input file.
#pragma once

#include <string>
#include <vector>

#include "frame/m_vand.h"

struct t_inpkey {
  std::string fileName;              // kLineLen characters
  int keyCount = 0;
  std::vector<t_key> keys;           // in file order; a lookup takes the first entry of a name
  int delCount = 0;
  std::vector<std::string> delFil;   // files to remove at exit, kLineLen characters each
  bool openBusy = false;             // true while OPNFIL runs
  int readState = 0;                 // 0 empty, 1 being read, 2 read, 3 exiting
};

// The one keyword list of the program.
extern t_inpkey inpKey;

// Default initialisation: blank name, empty lists, state 0.
void INPKINIT(t_inpkey& key);
