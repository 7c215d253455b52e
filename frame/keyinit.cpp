// Default initialisation of the keyword list and of its entries.
#include "frame/d_inpkey.h"
#include "frame/m_vand.h"
#include "frame/widths.h"

void KEYINIT(t_key& key) {
  // The value list becomes empty and gives its storage back; the name stays.
  std::vector<std::string>().swap(key.value);
}

void INPKINIT(t_inpkey& key) {
  key.fileName.assign(kLineLen, ' ');
  key.keyCount = 0;
  std::vector<t_key>().swap(key.keys);
  key.delCount = 0;
  std::vector<std::string>().swap(key.delFil);
  key.openBusy = false;
  key.readState = 0;
}
