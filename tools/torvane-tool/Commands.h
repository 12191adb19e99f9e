#pragma once
// The operator tool's subcommands. Each takes the arguments after its group and verb and
// returns the process exit status.

#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

int WtfBuild(const Arguments& args);
int WtfDump(const Arguments& args);
int WtfGet(const Arguments& args);
int ZipList(const Arguments& args);
int ZipTest(const Arguments& args);
int ZipExtract(const Arguments& args);
int VkcRestore(const Arguments& args);
int Versions(const Arguments& args);
int Tokens(const Arguments& args);
int IniGet(const Arguments& args);
int IniSet(const Arguments& args);
