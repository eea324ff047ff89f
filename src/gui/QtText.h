#pragma once
// Text between the engine (std::string, UTF-8) and the widgets (QString).
#include <QString>
#include <string>

namespace hx::gui {

inline QString q(const std::string& s) { return QString::fromStdString(s); }
inline std::string s(const QString& q) { return q.toStdString(); }

}  // namespace hx::gui
