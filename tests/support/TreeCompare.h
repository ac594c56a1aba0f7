// Lists a folder tree for comparisons: relative path -> content ("<dir>" for folders).
#pragma once

#include <map>
#include <string>

namespace testing_support {
std::map<std::wstring, std::string> ListTree(const std::wstring& root);
}
