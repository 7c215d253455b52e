// Count check: reports a keyword with more values than the caller can take.
#include "frame/m_vand.h"
#include "optcheck/ckopt.h"
#include "runtime/text.h"

void CKOPTN(int mode, std::string_view keyWord, const std::vector<std::string>& keyValue,
            int& numVal, std::string_view routineName, std::string_view descr, int& errCount,
            int maxNum) {
  static const ckopt_frame::t_member member{"CKOPTN", "ckoptn", ""};
  if (mode != 0 && mode != 1) ckopt_frame::fatalMode(member, std::nullopt);

  numVal = static_cast<int>(keyValue.size());
  if (numVal <= maxNum) return;

  ckopt_frame::writeHead(member, mode,
                         "Too many items found for keyword \"" + rt::trimRight(keyWord) + "\".",
                         keyWord, descr, routineName);
  auto [found, allowed] = ckopt_frame::alignedPair(numVal, maxNum);
  rt::writeFmt(LFNMSG, "(16X,A,A)", {"Num of items:", found});
  rt::writeFmt(LFNMSG, "(16X,A,A)", {"Max of items:", allowed});
  ckopt_frame::writeBlankRecord();
  errCount += mode;
}
