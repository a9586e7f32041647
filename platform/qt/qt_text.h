#pragma once

#include <QString>
#include <string>

namespace velnoria {

// Texts of the program are UTF-8 bytes with CR LF line breaks; Qt shows a break as "\n".
QString toDisplayText(const std::string& text);
std::string fromQString(const QString& text);

}  // namespace velnoria
