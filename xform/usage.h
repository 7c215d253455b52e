// The program's usage, for a command line that asks for it or that names
// no keyword input file.
#pragma once

// True when the command line asks for the usage: its arguments, joined as
// for the name of the keyword input file (GETCMD), read -h or --help. A
// keyword input file of one of those names is given as ./-h or ./--help.
bool usageAsked();

// True when the command line names no keyword input file (no argument, or
// only blank ones).
bool noKeywordFile();

// The usage, on standard output (the console unit): what the program does,
// how it is called, where file names lead, the threads' variable and where
// the keyword input file is explained.
void writeUsage();

// The one-line usage, on standard error, after what the run wrote on
// standard output (flushed first, so that on a terminal it comes last).
void writeUsageLine();
