#pragma once
// File-type filters are written as "name|patterns|name|patterns" (patterns
// separated by ";"), the form the program's texts and translations use; Qt's
// file dialogs want "name (patterns);;name (patterns)".

#include <QString>

#include <string_view>

namespace dz::ui {

// "Log files|*.log|all|*.*" gives "Log files (*.log);;all (*.*)"; a name
// without patterns (an odd number of parts) stands with "*".
QString QtFileFilter(std::string_view Filter);

}  // namespace dz::ui
